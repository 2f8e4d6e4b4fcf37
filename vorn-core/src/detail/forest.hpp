#pragma once
// The data a graph over a data matrix is fed: one owned 1-D copy per column, the ones
// vector, and the column placeholder names. Made once and fed to every graph of a call.
#include <cstddef>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/tensor.hpp"
#include "tarvex/tree.hpp"
#include "vorn_core/error.hpp"

namespace vorn_core::forest::detail {

using ketra_autograd::ArrayD;
using ketra_autograd::tensor::Tensor;

struct Columns {
  std::vector<ArrayD> columns;  // column j of x in row order
  ArrayD ones;                  // one 1.0 per row of x
  std::vector<std::string_view> names;

  // x must be rows x columns.
  explicit Columns(const ArrayD& x);

  // The column placeholders in order, then the ones placeholder; all of shape [-1].
  struct Placeholders {
    std::vector<Tensor> columns;
    Tensor ones;
  };
  Placeholders placeholders(ketra_autograd::graph::Context& ctx) const;
  // Feeds every column and the ones vector to the placeholders, keyed by their tensors.
  void feed(const Placeholders& placeholders, ketra_autograd::evaluation::Feeder& feeder) const;
};

// columns[index]; an index out of range is a caller fault and panics.
Tensor column(std::span<const Tensor> columns, std::size_t index);

// eval_tree on data already split into columns.
std::expected<ArrayD, error::VornError> evaluate(const tarvex::tree::EmlTree& tree, const Columns& data);
// The mean squared error of the tree's prediction against y, or the evaluation's error.
std::expected<double, error::VornError> mse_of(const tarvex::tree::EmlTree& tree, const Columns& data,
                                               std::span<const double> y);

}  // namespace vorn_core::forest::detail

#pragma once
// Guarded evaluation of an EML tree on every row of a data matrix at once, through a
// forward-only autograd graph whose placeholders are the columns. Every eml node clips
// its arguments, exp's to [-50, 50] and ln's to [1e-12, largest finite double], so it
// always yields finite values; only a bare leaf can predict NaN or infinity. The
// generated code of a tree applies no guards, so a tree is also checked unguarded.
#include <cstddef>
#include <expected>
#include <span>
#include <string_view>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/tensor.hpp"
#include "tarvex/tree.hpp"
#include "vorn_core/error.hpp"

namespace vorn_core::forest {

using ketra_autograd::ArrayD;
using ketra_autograd::tensor::Tensor;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;

inline constexpr double exp_clip_low = -50.0;
inline constexpr double exp_clip_high = 50.0;
inline constexpr double ln_clip_low = 1e-12;
inline constexpr double ln_clip_high = 1.7976931348623157e308;

// How far, over 1 + |guarded prediction|, the unguarded value of a tree may stray.
inline constexpr double unguarded_tolerance = 1e-9;

// The name of the placeholder of the ones vector that every leaf 1 and constant reads.
inline constexpr std::string_view ones_placeholder_name = "vorn_ones";

// "vorn_x{i}", stored once per process in a mutex-guarded list that only grows (a first
// request for 5 stores the names of columns 0 to 5) and whose strings never move, so the
// view stays valid for the whole process. A child forked while other threads ask for names
// finds the list whole and unlocked.
std::string_view col_placeholder_name(std::size_t i);

// The predictions of the tree for every row of x (rows x columns): Evaluation with the
// autograd error's debug text when the graph fails, NumericalInstability "forward pass
// produced non-finite values" when a prediction is NaN or infinite. An x that is not 2-D
// or a variable index not below the column count is a caller fault and panics.
std::expected<ArrayD, error::VornError> eval_tree(const EmlTree& tree, const ArrayD& x);

// exp(clip(a, -50, 50)) - ln(clip(b, 1e-12, max)); a NaN argument reads as the upper bound.
Tensor eml_guarded(Tensor a, Tensor b);

// The graph expression of the node: leaf 1 the ones placeholder, a constant c the ones
// placeholder times c, a variable its column, an eml node eml_guarded of its children
// (left built first). Equal subtrees are built again each time.
Tensor build_forward(const EmlNode& node, std::span<const Tensor> columns, Tensor ones);

// Whether the tree read as its generated code reads it, exp(a) - ln(b) at every eml node
// with nothing clipped, gives on every row of x a finite value within
// unguarded_tolerance·(1 + |p|) of its guarded prediction p; true for no rows. Plain
// doubles, no graph. An x that is not 2-D, or a variable index not below the column count
// on a row read, is a caller fault and panics.
bool unguarded_agrees(const EmlTree& tree, const ArrayD& x);

}  // namespace vorn_core::forest

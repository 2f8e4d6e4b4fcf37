#pragma once
// Constant fitting: the constants of an EML tree are trained with Adam, full batch, for a
// fixed number of steps, each step in a fresh autograd graph.
//
// The constants of a tree are its Const leaves in pre-order, left child before right
// child; every function here visits them in that order, so position i always names the
// same leaf.
#include <cstddef>
#include <expected>
#include <span>
#include <utility>
#include <vector>

#include "ketra_autograd/tensor.hpp"
#include "tarvex/tree.hpp"
#include "vorn_core/dataset.hpp"
#include "vorn_core/discoverer.hpp"
#include "vorn_core/error.hpp"

namespace vorn_core::fit {

using ketra_autograd::tensor::Tensor;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;

// Adam's settings besides the configured learning rate.
inline constexpr double adam_eps = 1e-8;
inline constexpr double adam_b1 = 0.9;
inline constexpr double adam_b2 = 0.999;
inline constexpr std::string_view adam_namespace = "vorn_adam";
inline constexpr std::string_view target_placeholder_name = "vorn_y";

// Trains every constant for config.max_epochs steps at config.learning_rate (nothing
// else of the configuration is read) and returns the rebuilt tree with its MSE. Standard
// output is silenced while training. A tree without constants is only evaluated and comes
// back sharing its root. Errors: "fitted constants are non-finite" (NumericalInstability)
// when a trained constant is NaN or infinite, and the errors of eval_tree on the start
// (no constants) or on the rebuilt tree.
std::expected<std::pair<EmlTree, double>, error::VornError> fit_constants(const EmlTree& tree,
                                                                          const dataset::DataSet& data,
                                                                          const discoverer::Discoverer& config);

// Appends the value of every Const leaf under the node, in constant order.
void collect_consts(const EmlNode& node, std::vector<double>& out);

// A new tree of the same shape, every node newly made, whose constants take
// values[index], values[index + 1], ...; index ends past the last value used. Fewer
// values than constants is a caller fault and panics.
NodePtr substitute_consts(const EmlNode& node, std::span<const double> values, std::size_t& index);

// The graph expression of the node with trainable constants: leaf 1 is `ones`, constant i
// is params[counter] * ones (counter then advances; the leaf's own value is not read), a
// variable its column, an eml node eml_guarded of its children (left built first). Running
// out of params or columns is a caller fault and panics.
Tensor build_param(const EmlNode& node, std::span<const Tensor> columns, Tensor ones, std::span<const Tensor> params,
                   std::size_t& counter);

}  // namespace vorn_core::fit

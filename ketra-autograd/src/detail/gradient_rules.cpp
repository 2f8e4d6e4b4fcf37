#include "ketra_autograd/detail/gradient_rules.hpp"

#include <initializer_list>

#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/arithmetic.hpp"
#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "ketra_autograd/tensor_ops/reduction_ops.hpp"
#include "ketra_autograd/tensor_ops/scalar_ops.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::gradient::detail {

namespace {

bool equals_any(std::string_view name, std::initializer_list<std::string_view> candidates) {
  for (std::string_view candidate : candidates) {
    if (name == candidate) return true;
  }
  return false;
}

bool contains_any(std::string_view name, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) {
    if (name.find(part) != std::string_view::npos) return true;
  }
  return false;
}

// The position of the name among the candidates, or no_component.
std::uint8_t which_of(std::string_view name, std::initializer_list<std::string_view> candidates) {
  std::uint8_t index = 0;
  for (std::string_view candidate : candidates) {
    if (name == candidate) return index;
    ++index;
  }
  return no_component;
}

}  // namespace

RuleChoice choose_rule(std::string_view name) {
  using enum GradRule;
  if (name.ends_with("AddOp") ||
      equals_any(name, {"Add", "SimdAdd", "OptimizedBroadcastAdd", "SimdElementwiseAdd", "SimdGradientAccumulate"})) {
    return {Add};
  }
  if (name.ends_with("SubOp") || equals_any(name, {"Sub", "OptimizedBroadcastSub", "SimdElementwiseSub"})) return {Sub};
  if (name.ends_with("MulOp") || equals_any(name, {"Mul", "SimdMul", "OptimizedBroadcastMul", "SimdElementwiseMul"})) {
    return {Mul};
  }
  if (name.ends_with("DivOp") || equals_any(name, {"Div", "OptimizedBroadcastDiv", "SimdElementwiseDiv"})) return {Div};
  if (contains_any(name, {"NegOp"}) || name == "Neg") return {Neg};
  if (contains_any(name, {"MaybeReduceSum"})) return {MaybeReduceSum};
  if (contains_any(name, {"MaybeBroadcast"})) return {MaybeBroadcast};
  if (contains_any(name, {"ReduceSumToScalarGrad"})) return {ReduceSumToScalarGrad};
  if (contains_any(name, {"ReduceGradCommon"})) return {ReduceGradCommon};
  if (equals_any(name, {tensor_ops::reduction_ops::ReduceSum::op_name, tensor_ops::reduction_ops::ReduceMean::op_name,
                        tensor_ops::reduction_ops::ReduceProd::op_name})) {
    return {OwnGrad};
  }
  if (contains_any(
          name, {"ReduceSumToScalar", "ReduceSumAll", "ReduceSum", "Mean", "ReduceMax", "ReduceMin", "ReduceProd"})) {
    return {SumReduction};
  }
  if (name.ends_with("MatMul")) return {MatMul};
  if (contains_any(name, {"Sigmoid"})) return {Sigmoid};
  if (contains_any(name, {"ReLU"})) return {ReLU};
  if (contains_any(name, {"Tanh"})) return {Tanh};
  if (contains_any(name, {"Softmax"})) return {Softmax};
  if (contains_any(name, {"ExtractDiagOp"}) || name == "ExtractDiag") return {ExtractDiag};
  if (contains_any(name, {"Checkpoint"})) return {Checkpoint};  // covers "CheckpointOp"
  if (contains_any(name, {"TraceOp"}) || name == "Trace") return {Trace};
  if (contains_any(name, {"MatrixInverse"}) || name == "MatInv") return {MatrixInverse};  // covers "...Op"
  if (contains_any(name, {"Determinant"})) return {Determinant};                          // and "GeneralDeterminantOp"
  if (contains_any(name, {"LinearSolve"})) return {LinearSolve};                          // and "LinearSolveOp"
  if (name == "MatrixSqrt") return {MatrixSqrt};
  if (name == "MatrixLog") return {MatrixLog};
  if (name == "MatrixPow") return {MatrixPow};
  if (contains_any(name, {"Squeeze"})) return {Squeeze};
  if (contains_any(name, {"ExpandDims"})) return {ExpandDims};
  if (contains_any(name, {"Reshape", "Flatten"})) return {Reshape};
  if (contains_any(name, {"AddN"})) return {AddN};
  if (contains_any(name, {"CustomActivation"})) return {CustomActivation};
  if (contains_any(name, {"Concat"})) return {Concat};
  if (contains_any(name, {"Slice"})) return {Slice};
  if (contains_any(name, {"Conditional"})) return {Conditional};
  if (contains_any(name, {"Fill"})) return {Fill};
  if (contains_any(name, {"Ones"})) return {Ones};
  if (contains_any(name, {"Zeros"})) return {Zeros};
  if (contains_any(name, {"ConvertToTensor"})) return {ConvertToTensor};
  if (equals_any(name, {"EmlOp", "EmlElementWiseOp"})) return {Eml};
  if (name == "Kronecker") return {Kronecker};
  if (contains_any(name, {"ScalarMulOp"})) return {ScalarMul};
  if (name == "Cholesky") return {Cholesky};
  if (const std::uint8_t lu = which_of(name, {"LUExtractP", "LUExtractL", "LUExtractU"}); lu != no_component) {
    return {LUExtract, lu == 0 ? no_component : lu};
  }
  if (const std::uint8_t qr = which_of(name, {"QRExtractQ", "QRExtractR"}); qr != no_component) return {QRExtract, qr};
  if (const std::uint8_t svd = which_of(name, {"SVDExtractU", "SVDExtractS", "SVDExtractVt"}); svd != no_component) {
    return {SVDExtract, svd};
  }
  return {OwnGrad};
}

RuleChoice RuleMemo::lookup(std::string_view name) {
  for (const Entry& entry : entries_) {
    if (entry.address == name.data() && entry.name == name) return entry.choice;
  }
  const RuleChoice choice = choose_rule(name);
  if (entries_.size() < max_entries) entries_.push_back(Entry{name.data(), std::string(name), choice});
  return choice;
}

RuleChoice rule_for(std::string_view name) {
  thread_local RuleMemo memo;
  return memo.lookup(name);
}

namespace {

using tensor::Tensor;
namespace arith = tensor_ops::arithmetic;

// The element count of a tensor's known shape: unknown dimensions count as 0, a tensor
// without a known shape as one element.
std::int64_t known_element_count(const Tensor& x) {
  std::int64_t count = 1;
  for (std::size_t d : x.shape()) count *= static_cast<std::int64_t>(d);
  return count;
}

// gy spread over x's shape: a ReduceSumToScalarGrad over gy and a fresh Shape of x that
// no gradient passes through.
Tensor spread_sum(const Tensor& gy, const Tensor& x) {
  const Tensor x_shape = tensor::TensorBuilder(x.graph()).append_input_with_selector(x).set_differentiable(false).build(
      tensor_ops::array_ops::Shape{});
  return pair_node(gy, x_shape, tensor_ops::reduction_ops::ReduceSumToScalarGrad{});
}

// Input i's share of the flattened gradient of a concatenation.
Tensor concat_share(const RuleSite& site, std::size_t i) {
  std::int64_t offset = 0;
  for (std::size_t k = 0; k < i; ++k) offset += known_element_count(site.inputs[k]);
  const std::int64_t start[] = {offset};
  const std::int64_t end[] = {offset + known_element_count(site.inputs[i])};
  const Tensor piece = tensor_ops::slice(tensor_ops::flatten(site.gy), start, end);
  return tensor_ops::reshape(piece, tensor_ops::shape(site.inputs[i]));
}

Tensor slice_gradient(const RuleSite& site, std::size_t i) {
  const Tensor x = site.inputs[i];
  const auto any = site.op.as_any();
  if (const auto* slice = any ? any->downcast<tensor_ops::array_ops::Slice>() : nullptr) {
    return pair_node(x, site.gy, tensor_ops::array_ops::SliceGrad(slice->indices()));
  }
  return arith::add(arith::mul(x, tensor_ops::scalar(0.0, x.graph())), site.gy);
}

Tensor scalar_mul_gradient(const RuleSite& site) {
  const auto any = site.op.as_any();
  if (const auto* op = any ? any->downcast<tensor_ops::scalar_ops::ScalarMulOp>() : nullptr) {
    return tensor_ops::linear_algebra::scalar_mul(site.gy, op->factor());
  }
  return site.gy;
}

}  // namespace

Tensor RuleSite::input(std::size_t k) const {
  if (k >= inputs.size()) support::panic("index out of bounds: the len is {} but the index is {}", inputs.size(), k);
  return inputs[k];
}

std::optional<Tensor> apply_rule(RuleChoice choice, const RuleSite& site, std::size_t i) {
  using enum GradRule;
  graph::Graph& graph = site.ctx;
  const Tensor gy = site.gy;
  const Tensor y = site.y;
  const bool first = i == 0;
  switch (choice.rule) {
    case Add:
    case AddN:
    case CustomActivation:
    case Softmax:
    case Checkpoint:
    case Fill:
    case Ones:
    case Zeros:
    case ConvertToTensor: return gy;
    case Sub: return first ? gy : arith::neg(gy);
    case Mul: return first ? arith::mul(site.input(1), gy) : arith::mul(site.input(0), gy);
    case Div:
      if (first) return arith::div(gy, site.input(1));
      return arith::div(arith::mul(arith::neg(site.input(0)), gy), arith::mul(site.input(1), site.input(1)));
    case Neg: return arith::neg(gy);
    case MaybeReduceSum:
    case ReduceSumToScalarGrad:
    case ReduceGradCommon: return first ? std::optional<Tensor>(gy) : std::nullopt;
    case MaybeBroadcast:
      if (!first) return std::nullopt;
      return tensor_ops::binary_ops::maybe_reduce(tensor_ops::shape(site.input(0)), gy, graph);
    case SumReduction: return first ? std::optional<Tensor>(spread_sum(gy, site.input(0))) : std::nullopt;
    case Sigmoid: return arith::mul(arith::mul(y, arith::sub(tensor_ops::scalar(1.0, graph), y)), gy);
    case ReLU: return arith::mul(arith::greater(site.input(i), tensor_ops::scalar(0.0, graph)), gy);
    case Tanh: return arith::mul(arith::sub(tensor_ops::scalar(1.0, graph), arith::mul(y, y)), gy);
    case Squeeze: return first ? std::optional<Tensor>(tensor_ops::expand_dims(gy, site.input(1))) : std::nullopt;
    case ExpandDims: return first ? std::optional<Tensor>(tensor_ops::squeeze(gy, site.input(1))) : std::nullopt;
    case Reshape:
      return first ? std::optional<Tensor>(tensor_ops::reshape(gy, tensor_ops::shape(site.input(0)))) : std::nullopt;
    case Concat: return concat_share(site, i);
    case Slice: return slice_gradient(site, i);
    case Conditional: return first ? std::nullopt : std::optional<Tensor>(gy);
    case Eml: return std::nullopt;
    case ScalarMul: return scalar_mul_gradient(site);
    case OwnGrad: support::panic("the operation's own grad serves all inputs at once");
    default: return apply_matrix_rule(choice, site, i);
  }
}

}  // namespace ketra_autograd::gradient::detail

#include "ketra_autograd/detail/gradient_rules.hpp"

#include <initializer_list>

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
  if (equals_any(name, {"ketra_autograd::tensor_ops::reduction_ops::ReduceSum",
                        "ketra_autograd::tensor_ops::reduction_ops::ReduceMean",
                        "ketra_autograd::tensor_ops::reduction_ops::ReduceProd"})) {
    return {OwnGrad};
  }
  if (contains_any(name, {"ReduceSumToScalar", "ReduceSumAll", "ReduceSum", "Mean", "ReduceMax", "ReduceMin",
                          "ReduceProd"})) {
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

}  // namespace ketra_autograd::gradient::detail

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ketra_autograd/detail/gradient_rules.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd::gradient::detail;
using ketra_autograd::testing::operation_case_name;
using support::testing::PrintTo;

struct RuleCase {
  std::string name;  // the operation name
  int rule;          // the position of the deciding rule in the cascade
  std::uint8_t component = 0;
};

class GradientRuleCascade : public ::testing::TestWithParam<RuleCase> {};

TEST_P(GradientRuleCascade, PicksTheFirstMatchingRule) {
  const RuleCase& c = GetParam();
  const RuleChoice choice = choose_rule(c.name);
  EXPECT_EQ(std::to_underlying(choice.rule), c.rule);
  EXPECT_EQ(choice.component, c.component);
  EXPECT_EQ(rule_for(c.name), choice);  // through the memo: a second lookup hits it
  EXPECT_EQ(rule_for(c.name), choice);
}

const std::string p = "ketra_autograd::tensor_ops::";

// Every operation type this system adds to graphs, with the rule that differentiates it.
INSTANTIATE_TEST_SUITE_P(
    SystemOperations, GradientRuleCascade,
    ::testing::Values(
        RuleCase{p + "basic_source_ops::Variable", 44}, RuleCase{p + "basic_source_ops::Placeholder", 44},
        RuleCase{p + "gradient_descent_ops::adam::AdamOp<f64>", 44}, RuleCase{p + "binary_ops::AddOp", 1},
        RuleCase{p + "binary_ops::SubOp", 2}, RuleCase{p + "binary_ops::MulOp", 3},
        RuleCase{p + "binary_ops::DivOp", 4}, RuleCase{p + "array_ops::InferBinOpShape", 44},
        RuleCase{p + "binary_ops::MaybeReduceSum", 6}, RuleCase{p + "binary_ops::MaybeBroadcast", 7},
        RuleCase{p + "math_ops::Exp", 44}, RuleCase{p + "math_ops::Ln", 44}, RuleCase{p + "math_ops::NegOp", 5},
        RuleCase{p + "math_ops::Pow<f64>", 44}, RuleCase{p + "const_gen_ops::Scalar<f64>", 44},
        RuleCase{p + "const_gen_ops::ConvertToTensor<f64>", 36}, RuleCase{p + "scalar_ops::ScalarMulOp<f64>", 39},
        RuleCase{p + "math_ops::Equal", 44}, RuleCase{p + "math_ops::Greater", 44},
        RuleCase{p + "math_ops::Maximum", 44}, RuleCase{p + "math_ops::Minimum", 44},
        // These three differentiate themselves; the full-sum rule would be wrong for them.
        RuleCase{p + "reduction_ops::ReduceSum", 44}, RuleCase{p + "reduction_ops::ReduceMean", 44},
        RuleCase{p + "reduction_ops::ReduceProd", 44}, RuleCase{p + "reduction_ops::ReduceSumAll", 10},
        RuleCase{p + "reduction_ops::ReduceSumToScalar", 10}, RuleCase{p + "reduction_ops::ReduceSumToScalarGrad", 8},
        RuleCase{p + "reduction_ops::ReduceGradCommon", 9}, RuleCase{p + "array_ops::AddN", 28},
        RuleCase{p + "array_ops::Reshape", 27}, RuleCase{p + "array_ops::Squeeze", 25},
        RuleCase{p + "array_ops::ExpandDims", 26}, RuleCase{p + "array_ops::Shape", 44},
        RuleCase{p + "math_ops::Transpose", 44}, RuleCase{p + "array_ops::Slice", 31},
        RuleCase{p + "array_ops::SliceGrad", 31}, RuleCase{p + "array_ops::Gather", 44},
        RuleCase{p + "array_ops::GatherGrad", 44}, RuleCase{p + "dot_ops::MatMul", 11},
        RuleCase{p + "matrix_ops::MatrixInverseOp", 19}, RuleCase{p + "linalg_ops::DiagOp", 44},
        RuleCase{p + "linalg_ops::TraceBackwardOp", 44}, RuleCase{"KroneckerGradA", 44}, RuleCase{"KroneckerGradB", 44},
        RuleCase{p + "decomposition_ops::backward_ops::CholeskyBackwardOp", 44},
        RuleCase{p + "decomposition_ops::backward_ops::QRExtractBackwardOp", 44},
        RuleCase{p + "decomposition_ops::backward_ops::LUExtractBackwardOp", 44}, RuleCase{"SVDBackward", 44},
        RuleCase{"MatrixSqrtBackward", 44}, RuleCase{"MatrixPowBackward", 44}, RuleCase{"MatrixLogBackward", 44}),
    operation_case_name<RuleCase>);

// Names of no operation here, chosen at the edges of each test: exact versus contained,
// suffix versus contained, and the order between overlapping rules.
INSTANTIATE_TEST_SUITE_P(
    ForeignNames, GradientRuleCascade,
    ::testing::Values(
        RuleCase{"Add", 1}, RuleCase{"SimdGradientAccumulate", 1}, RuleCase{"AddOpX", 44}, RuleCase{"Sub", 2},
        RuleCase{"SimdElementwiseSub", 2}, RuleCase{"SimdMul", 3}, RuleCase{"Div", 4}, RuleCase{"Neg", 5},
        RuleCase{"NegX", 44}, RuleCase{"xNegOpy", 5}, RuleCase{"my::Mean", 10}, RuleCase{"ReduceMax", 10},
        RuleCase{"ReduceMinGrad", 10}, RuleCase{"other::ReduceSum", 10}, RuleCase{"BatchMatMul", 11},
        RuleCase{"MatMulGrad", 44}, RuleCase{"Sigmoid", 12}, RuleCase{"LeakyReLU", 13}, RuleCase{"Tanh", 14},
        RuleCase{"Softmax", 15}, RuleCase{"ExtractDiag", 16}, RuleCase{"XExtractDiag", 44},
        RuleCase{"CheckpointOp", 17}, RuleCase{"Trace", 18}, RuleCase{"XTraceOp", 18}, RuleCase{"MatInv", 19},
        RuleCase{"MatrixInverse", 19}, RuleCase{"GeneralDeterminantOp", 20}, RuleCase{"LinearSolve", 21},
        RuleCase{"MatrixSqrt", 22}, RuleCase{"MatrixLog", 23}, RuleCase{"MatrixPow", 24}, RuleCase{"Flatten", 27},
        RuleCase{"CustomActivation", 29}, RuleCase{"Concat", 30}, RuleCase{"Conditional", 32}, RuleCase{"Fill", 33},
        RuleCase{"Ones", 34}, RuleCase{"Zeros", 35}, RuleCase{"EmlOp", 37}, RuleCase{"EmlElementWiseOp", 37},
        RuleCase{"EmlOps", 44}, RuleCase{"Kronecker", 38}, RuleCase{"Cholesky", 40}, RuleCase{"LUExtractL", 41, 1},
        RuleCase{"LUExtractU", 41, 2}, RuleCase{"LUExtractP", 41, no_component}, RuleCase{"QRExtractQ", 42, 0},
        RuleCase{"QRExtractR", 42, 1}, RuleCase{"SVDExtractU", 43, 0}, RuleCase{"SVDExtractS", 43, 1},
        RuleCase{"SVDExtractVt", 43, 2}, RuleCase{"SVDExtractV", 44}, RuleCase{"", 44},
        // One name, two rules: the earlier decides.
        RuleCase{"ReshapeSqueeze", 25}, RuleCase{"SigmoidReLU", 12}, RuleCase{"ConcatSlice", 30},
        RuleCase{"FillOnes", 33}, RuleCase{"SliceScalarMulOp", 3}, RuleCase{"SliceScalarMulOp<f64>", 31}),
    operation_case_name<RuleCase>);

TEST(RuleMemo, TrustsAnAddressOnlyWithTheSameText) {
  RuleMemo memo;
  std::string name = "Add";
  EXPECT_EQ(memo.lookup(name).rule, GradRule::Add);
  name[0] = 'N';
  name[1] = 'e';
  name[2] = 'g';  // same address, another name
  EXPECT_EQ(memo.lookup(name).rule, GradRule::Neg);
  EXPECT_EQ(memo.lookup(std::string_view(name.data(), 2)).rule, GradRule::OwnGrad);  // "Ne"
}

}  // namespace

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ketra_autograd/evaluation.hpp"
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/op.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/basic_source_ops.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "ketra_autograd/tensor_ops/const_gen_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"
#include "ketra_autograd/tensor_ops/reduction_ops.hpp"
#include "ketra_autograd/tensor_ops/scalar_ops.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::tensor_ops;
using namespace ketra_autograd::testing;
using support::testing::PrintTo;
using tensor::Tensor;

struct NameCase {
  std::shared_ptr<const op::Op> op;
  const char* name;
};

class OperationNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(OperationNames, AreFullTypePaths) { EXPECT_EQ(GetParam().op->name(), GetParam().name); }

INSTANTIATE_TEST_SUITE_P(
    GraphCore, OperationNames,
    ::testing::Values(
        NameCase{std::make_shared<basic_source_ops::Placeholder>(),
                 "ketra_autograd::tensor_ops::basic_source_ops::Placeholder"},
        NameCase{std::make_shared<basic_source_ops::Variable>(),
                 "ketra_autograd::tensor_ops::basic_source_ops::Variable"},
        NameCase{std::make_shared<const_gen_ops::Scalar>(1.0),
                 "ketra_autograd::tensor_ops::const_gen_ops::Scalar<f64>"},
        NameCase{std::make_shared<const_gen_ops::ConvertToTensor>(ArrayD::scalar(1.0)),
                 "ketra_autograd::tensor_ops::const_gen_ops::ConvertToTensor<f64>"},
        NameCase{std::make_shared<array_ops::Shape>(), "ketra_autograd::tensor_ops::array_ops::Shape"},
        NameCase{std::make_shared<array_ops::Reshape>(), "ketra_autograd::tensor_ops::array_ops::Reshape"},
        NameCase{std::make_shared<array_ops::Squeeze>(), "ketra_autograd::tensor_ops::array_ops::Squeeze"},
        NameCase{std::make_shared<array_ops::ExpandDims>(), "ketra_autograd::tensor_ops::array_ops::ExpandDims"},
        NameCase{std::make_shared<math_ops::Transpose>(false), "ketra_autograd::tensor_ops::math_ops::Transpose"},
        NameCase{std::make_shared<array_ops::Slice>(array_ops::SliceList{}),
                 "ketra_autograd::tensor_ops::array_ops::Slice"},
        NameCase{std::make_shared<array_ops::SliceGrad>(array_ops::SliceList{}),
                 "ketra_autograd::tensor_ops::array_ops::SliceGrad"}),
    operation_case_name<NameCase>);

// The gradient pass recognises operations by substrings of these names.
INSTANTIATE_TEST_SUITE_P(
    TensorOps, OperationNames,
    ::testing::Values(
        NameCase{std::make_shared<binary_ops::AddOp>(), "ketra_autograd::tensor_ops::binary_ops::AddOp"},
        NameCase{std::make_shared<binary_ops::SubOp>(), "ketra_autograd::tensor_ops::binary_ops::SubOp"},
        NameCase{std::make_shared<binary_ops::MulOp>(), "ketra_autograd::tensor_ops::binary_ops::MulOp"},
        NameCase{std::make_shared<binary_ops::DivOp>(), "ketra_autograd::tensor_ops::binary_ops::DivOp"},
        NameCase{std::make_shared<binary_ops::MaybeReduceSum>(),
                 "ketra_autograd::tensor_ops::binary_ops::MaybeReduceSum"},
        NameCase{std::make_shared<binary_ops::MaybeBroadcast>(),
                 "ketra_autograd::tensor_ops::binary_ops::MaybeBroadcast"},
        NameCase{std::make_shared<array_ops::InferBinOpShape>(),
                 "ketra_autograd::tensor_ops::array_ops::InferBinOpShape"},
        NameCase{std::make_shared<array_ops::AddN>(), "ketra_autograd::tensor_ops::array_ops::AddN"},
        NameCase{std::make_shared<array_ops::Gather>(0, true), "ketra_autograd::tensor_ops::array_ops::Gather"},
        NameCase{std::make_shared<array_ops::GatherGrad>(0, true), "ketra_autograd::tensor_ops::array_ops::GatherGrad"},
        NameCase{std::make_shared<math_ops::Exp>(), "ketra_autograd::tensor_ops::math_ops::Exp"},
        NameCase{std::make_shared<math_ops::Ln>(), "ketra_autograd::tensor_ops::math_ops::Ln"},
        NameCase{std::make_shared<math_ops::NegOp>(), "ketra_autograd::tensor_ops::math_ops::NegOp"},
        NameCase{std::make_shared<math_ops::Pow>(2.0), "ketra_autograd::tensor_ops::math_ops::Pow<f64>"},
        NameCase{std::make_shared<math_ops::Equal>(), "ketra_autograd::tensor_ops::math_ops::Equal"},
        NameCase{std::make_shared<math_ops::Greater>(), "ketra_autograd::tensor_ops::math_ops::Greater"},
        NameCase{std::make_shared<math_ops::Maximum>(), "ketra_autograd::tensor_ops::math_ops::Maximum"},
        NameCase{std::make_shared<math_ops::Minimum>(), "ketra_autograd::tensor_ops::math_ops::Minimum"},
        NameCase{std::make_shared<scalar_ops::ScalarMulOp>(2.0),
                 "ketra_autograd::tensor_ops::scalar_ops::ScalarMulOp<f64>"},
        NameCase{std::make_shared<reduction_ops::ReduceSum>(false, false),
                 "ketra_autograd::tensor_ops::reduction_ops::ReduceSum"},
        NameCase{std::make_shared<reduction_ops::ReduceMean>(false, false),
                 "ketra_autograd::tensor_ops::reduction_ops::ReduceMean"},
        NameCase{std::make_shared<reduction_ops::ReduceProd>(false, false),
                 "ketra_autograd::tensor_ops::reduction_ops::ReduceProd"},
        NameCase{std::make_shared<reduction_ops::ReduceSumAll>(),
                 "ketra_autograd::tensor_ops::reduction_ops::ReduceSumAll"},
        NameCase{std::make_shared<reduction_ops::ReduceSumToScalar>(),
                 "ketra_autograd::tensor_ops::reduction_ops::ReduceSumToScalar"},
        NameCase{std::make_shared<reduction_ops::ReduceSumToScalarGrad>(),
                 "ketra_autograd::tensor_ops::reduction_ops::ReduceSumToScalarGrad"},
        NameCase{std::make_shared<reduction_ops::ReduceGradCommon>(true, false),
                 "ketra_autograd::tensor_ops::reduction_ops::ReduceGradCommon"}),
    operation_case_name<NameCase>);

TEST(Op, SliceAnswersAsAny) {
  const array_ops::Slice slice(array_ops::SliceList{SliceElem{1, std::nullopt, 1}});
  const auto any = slice.as_any();
  ASSERT_TRUE(any.has_value());
  const auto* seen = any->downcast<array_ops::Slice>();
  ASSERT_EQ(seen, &slice);
  EXPECT_EQ(seen->indices()[0], (SliceElem{1, std::nullopt, 1}));
  EXPECT_EQ(any->downcast<array_ops::SliceGrad>(), nullptr);
  EXPECT_FALSE(array_ops::Reshape{}.as_any().has_value());
  EXPECT_FALSE(const_gen_ops::Scalar(2.0).as_any().has_value());
  EXPECT_FALSE(array_ops::SliceGrad(array_ops::SliceList{}).as_any().has_value());
}

TEST(ComputeContext, InputsBeyondTheNodeReadAsTheDummyScalar) {
  const ArrayD only = vec({1.0, 2.0});
  const std::vector<const ArrayD*> inputs{&only};
  ArrayD first;
  std::vector<ArrayD> further;
  op::ComputeContext ctx(inputs, first, further);
  EXPECT_EQ(&ctx.input(0), &only);
  const ArrayD& missing = ctx.input(1);
  EXPECT_EQ(missing.ndim(), 0u);
  EXPECT_EQ(missing[0], 0.0);
  EXPECT_EQ(&missing, &op::ComputeContext::dummy_scalar());
  EXPECT_EQ(ctx.num_inputs(), 1u);
  EXPECT_EQ(ctx.num_outputs(), 0u);
  ctx.append_output(vec({3.0}));
  ctx.append_output(vec({4.0}));
  ctx.append_output(vec({5.0}));
  EXPECT_EQ(ctx.num_outputs(), 3u);
  EXPECT_EQ(first, vec({3.0}));
  EXPECT_EQ(further, (std::vector<ArrayD>{vec({4.0}), vec({5.0})}));
}

TEST(ComputeContext, TheDummyScalarIsOneObjectAcrossThreads) {
  std::vector<const ArrayD*> seen(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = &op::ComputeContext::dummy_scalar(); });
  }
  for (auto& t : threads) t.join();
  for (const ArrayD* p : seen) EXPECT_EQ(p, &op::ComputeContext::dummy_scalar());
}

TEST(GradientContext, SettingAGradientFillsTheSlotsBelowWithNone) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = scalar(1.0, ctx);
    const Tensor gy = scalar(2.0, ctx);
    const std::vector<Tensor> outputs{x}, inputs{x, gy}, arriving{gy};
    std::vector<std::optional<Tensor>> grads;
    op::GradientContext gctx(outputs, inputs, ctx, arriving, grads);
    gctx.set_input_grad(2, gy);
    ASSERT_EQ(grads.size(), 3u);
    EXPECT_FALSE(grads[0].has_value());
    EXPECT_FALSE(grads[1].has_value());
    EXPECT_EQ(grads[2], gy);
    EXPECT_EQ(gctx.output(), x);
    EXPECT_EQ(gctx.output_grad(), gy);
    EXPECT_EQ(&gctx.graph(), static_cast<graph::Graph*>(&ctx));
    EXPECT_EQ(panic_message([&] { gctx.input(2); }), "gradient context: input 2 asked for, 2 present");
    op::GradientContext beyond(outputs, inputs, ctx, arriving, grads, 1);
    EXPECT_EQ(panic_message([&] { beyond.output_grad(); }), "gradient context: output gradient 1 asked for, 1 present");
  });
}

}  // namespace

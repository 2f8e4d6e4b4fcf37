#include <gtest/gtest.h>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/linear_algebra.hpp"
#include "test_support.hpp"

namespace {

using namespace ketra_autograd;
using namespace ketra_autograd::testing;
using namespace ketra_autograd::tensor_ops::linear_algebra;
using tensor::Tensor;
using tensor_ops::convert_to_tensor;

// The builders add one node of the named operation over the given inputs, with neither a
// shape tensor nor a known shape.
void expect_node(graph::Context& ctx, Tensor t, std::string_view name, std::vector<std::size_t> inputs) {
  const tensor::TensorInternal& node = ctx.node(t.id());
  EXPECT_EQ(node.get_op().name(), name);
  std::vector<std::size_t> ids;
  for (const tensor::Input& input : node.inputs) ids.push_back(input.id);
  EXPECT_EQ(ids, inputs);
  EXPECT_FALSE(node.shape.has_value());
  EXPECT_FALSE(node.known_shape.has_value());
  EXPECT_TRUE(node.is_differentiable);
}

TEST(LinearAlgebraBuilders, AddTheirOperations) {
  graph::run([](graph::Context& ctx) {
    const Tensor a = convert_to_tensor(array({2, 2}, {4, 7, 2, 6}), ctx);
    const Tensor v = convert_to_tensor(vec({1, 2}), ctx);
    const Tensor product = matmul(a, a);
    expect_node(ctx, product, "ketra_autograd::tensor_ops::dot_ops::MatMul", {a.id(), a.id()});
    EXPECT_EQ(*product.eval(ctx), array({2, 2}, {30, 70, 20, 50}));
    const Tensor inverse = matrix_inverse(a);
    expect_node(ctx, inverse, "ketra_autograd::tensor_ops::matrix_ops::MatrixInverseOp", {a.id()});
    EXPECT_TRUE(near(tensor_ops::dense::as_matrix(*inverse.eval(ctx)), matrix({{0.6, -0.7}, {-0.2, 0.4}}), 1e-15));
    const Tensor diagonal = diag(v);
    expect_node(ctx, diagonal, "ketra_autograd::tensor_ops::linalg_ops::DiagOp", {v.id()});
    EXPECT_EQ(*diagonal.eval(ctx), array({2, 2}, {1, 0, 0, 2}));
  });
}

TEST(LinearAlgebraBuilders, TransposeSwapsTheAxesOfAMatrix) {
  graph::run([](graph::Context& ctx) {
    const Tensor x = convert_to_tensor(iota({2, 3}), ctx);
    const Tensor t = transpose(x, {1, 0});
    const std::size_t permutation = ctx.node(t.id()).inputs[1].id;
    expect_node(ctx, t, "ketra_autograd::tensor_ops::math_ops::Transpose", {x.id(), permutation});
    EXPECT_EQ(*Tensor(ctx, permutation).eval(ctx), vec({1, 0}));
    EXPECT_EQ(*t.eval(ctx), array({3, 2}, {0, 3, 1, 4, 2, 5}));
  });
}

TEST(LinearAlgebraBuilders, RefuseTensorsOfAnotherGraph) {
  graph::run([](graph::Context& first) {
    graph::run([&](graph::Context& second) {
      const Tensor a = convert_to_tensor(iota({2, 2}), first);
      const Tensor b = convert_to_tensor(iota({2, 2}), second);
      EXPECT_EQ(panic_message([&] { matmul(a, b); }), "Detected tensors belonging to different graphs");
    });
  });
}

}  // namespace

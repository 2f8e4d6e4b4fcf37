#include "ketra_autograd/tensor_ops/arithmetic.hpp"

#include "detail/builders.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/binary_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"

namespace ketra_autograd::tensor_ops::arithmetic {

namespace {

using tensor::TensorBuilder;

// The operation node over (a, b) recording their broadcast shape, after the nodes that
// compute it.
template <typename O>
Tensor broadcasting(Tensor a, Tensor b) {
  const Tensor a_shape = shape(a);
  const Tensor b_shape = shape(b);
  const Tensor result_shape = infer_bin_opshape(a.graph(), a_shape, b_shape);
  return TensorBuilder(a.graph())
      .append_input_with_selector(a)
      .append_input_with_selector(b)
      .set_shape(result_shape)
      .build(O{});
}

}  // namespace

Tensor infer_bin_opshape(graph::Graph& graph, Tensor lhs_shape, Tensor rhs_shape) {
  return TensorBuilder(graph).append_input_with_selector(lhs_shape).append_input_with_selector(rhs_shape).build(
      array_ops::InferBinOpShape{});
}

Tensor add(Tensor a, Tensor b) { return broadcasting<binary_ops::AddOp>(a, b); }
Tensor sub(Tensor a, Tensor b) { return broadcasting<binary_ops::SubOp>(a, b); }
Tensor mul(Tensor a, Tensor b) { return broadcasting<binary_ops::MulOp>(a, b); }
Tensor div(Tensor a, Tensor b) { return broadcasting<binary_ops::DivOp>(a, b); }

Tensor exp(Tensor x) { return detail::unary(x, math_ops::Exp{}); }
Tensor ln(Tensor x) { return detail::unary(x, math_ops::Ln{}); }
Tensor neg(Tensor x) { return detail::unary(x, math_ops::NegOp{}); }
Tensor pow(Tensor x, double exponent) { return detail::unary(x, math_ops::Pow(exponent)); }

Tensor equal(Tensor a, Tensor b) { return detail::binary(a, b, math_ops::Equal{}); }
Tensor greater(Tensor a, Tensor b) { return detail::binary(a, b, math_ops::Greater{}); }

Tensor clip(Tensor x, double min, double max) {
  const Tensor lower = scalar(min, x.graph());
  const Tensor upper = scalar(max, x.graph());
  const Tensor capped = detail::binary(x, upper, math_ops::Minimum{});
  return detail::binary(capped, lower, math_ops::Maximum{});
}

}  // namespace ketra_autograd::tensor_ops::arithmetic

#include "ketra_autograd/tensor_ops/linear_algebra.hpp"

#include "detail/builders.hpp"
#include "ketra_autograd/tensor_ops/dot_ops.hpp"
#include "ketra_autograd/tensor_ops/linalg_ops.hpp"
#include "ketra_autograd/tensor_ops/math_ops.hpp"
#include "ketra_autograd/tensor_ops/matrix_ops.hpp"
#include "ketra_autograd/tensor_ops/scalar_ops.hpp"

namespace ketra_autograd::tensor_ops::linear_algebra {

using tensor::TensorBuilder;

Tensor matmul(Tensor a, Tensor b) {
  return TensorBuilder(a.graph()).append_input_with_selector(a).append_input_with_selector(b).build(
      dot_ops::MatMul(false, false));
}

Tensor matrix_inverse(Tensor x) {
  return TensorBuilder(x.graph()).append_input_with_selector(x).build(matrix_ops::MatrixInverseOp{});
}

Tensor diag(Tensor x) { return TensorBuilder(x.graph()).append_input_with_selector(x).build(linalg_ops::DiagOp{}); }

Tensor transpose(Tensor x, std::array<std::int32_t, 2> perm) {
  const Tensor permutation = tensor::as_tensor(perm, x.graph());
  return TensorBuilder(x.graph())
      .append_input_with_selector(x)
      .append_input_with_selector(permutation)
      .build(math_ops::Transpose(false));
}

Tensor scalar_mul(Tensor x, double factor) { return tensor_ops::detail::unary(x, scalar_ops::ScalarMulOp(factor)); }

}  // namespace ketra_autograd::tensor_ops::linear_algebra

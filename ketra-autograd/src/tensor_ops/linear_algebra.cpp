#include "ketra_autograd/tensor_ops/linear_algebra.hpp"

#include "ketra_autograd/tensor_ops/detail/builders.hpp"
#include "ketra_autograd/tensor_ops/scalar_ops.hpp"

namespace ketra_autograd::tensor_ops::linear_algebra {

Tensor scalar_mul(Tensor x, double factor) { return tensor_ops::detail::unary(x, scalar_ops::ScalarMulOp(factor)); }

}  // namespace ketra_autograd::tensor_ops::linear_algebra

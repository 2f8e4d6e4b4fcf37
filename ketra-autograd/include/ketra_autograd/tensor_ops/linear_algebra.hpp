#pragma once
// Builders of linear-algebra operations.
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::tensor_ops::linear_algebra {

using tensor::Tensor;

// x * factor elementwise: shape(x) (unless recorded) and a ScalarMulOp node recording it.
Tensor scalar_mul(Tensor x, double factor);

}  // namespace ketra_autograd::tensor_ops::linear_algebra

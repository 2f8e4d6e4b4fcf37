#pragma once
// Builders of matrix operations and of multiplication by a fixed factor. Each adds its
// node to the graph of its first tensor; a second tensor of another graph panics with
// "Detected tensors belonging to different graphs".
#include <array>
#include <cstdint>

#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::tensor_ops::linear_algebra {

using tensor::Tensor;

// A MatMul node without transpositions: a·b. No shape tensor or known shape, like the
// three below.
Tensor matmul(Tensor a, Tensor b);
// A MatrixInverseOp node: x⁻¹.
Tensor matrix_inverse(Tensor x);
// A DiagOp node: the square matrix with the vector x on its diagonal.
Tensor diag(Tensor x);
// A Transpose node (permutation not inverted) with inputs x and the constant 1-D tensor
// of perm; [1, 0] swaps the axes of a matrix.
Tensor transpose(Tensor x, std::array<std::int32_t, 2> perm);

// x * factor elementwise: shape(x) (unless recorded) and a ScalarMulOp node recording it.
Tensor scalar_mul(Tensor x, double factor);

}  // namespace ketra_autograd::tensor_ops::linear_algebra

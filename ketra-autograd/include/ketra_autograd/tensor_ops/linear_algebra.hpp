#pragma once
// Builders of matrix operations. Each adds one node to the graph of its first tensor,
// without a shape tensor or known shape; a second tensor of another graph panics with
// "Detected tensors belonging to different graphs".
#include <array>
#include <cstdint>

#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::tensor_ops::linear_algebra {

using tensor::Tensor;

// A MatMul node without transpositions: a·b.
Tensor matmul(Tensor a, Tensor b);
// A MatrixInverseOp node: x⁻¹.
Tensor matrix_inverse(Tensor x);
// A DiagOp node: the square matrix with the vector x on its diagonal.
Tensor diag(Tensor x);
// A Transpose node (permutation not inverted) with inputs x and the constant 1-D tensor
// of perm; [1, 0] swaps the axes of a matrix.
Tensor transpose(Tensor x, std::array<std::int32_t, 2> perm);

}  // namespace ketra_autograd::tensor_ops::linear_algebra

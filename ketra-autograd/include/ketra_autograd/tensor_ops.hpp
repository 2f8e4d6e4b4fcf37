#pragma once
// Builder functions: each adds a node to the graph of its first tensor (or the graph it
// is given) and returns it; every further tensor must belong to that graph.
#include <cstdint>
#include <span>
#include <vector>

#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::tensor_ops {

using tensor::Tensor;

// A 0-d constant.
Tensor scalar(double value, graph::Graph& graph);
// A constant owning the array; never on a gradient path.
Tensor convert_to_tensor(ArrayD array, graph::Graph& graph);

// The tensor recorded as x's shape, or a new Shape node over x.
Tensor shape(Tensor x);
Tensor reshape(Tensor x, Tensor shape);
// x as a 1-D tensor.
Tensor flatten(Tensor x);
Tensor squeeze(Tensor x, Tensor axes);
Tensor expand_dims(Tensor x, Tensor axes);
// One slice element per (start, end) pair, step 1. An end of -1 runs to the end of the
// axis, an end below -1 includes the element it names, any other end is exclusive.
Tensor slice(Tensor x, std::span<const std::int64_t> starts, std::span<const std::int64_t> ends);
// A Gather node with inputs (indices, params): the sub-arrays of params at the indices
// along axis, negative indices counting from the end of that axis.
Tensor gather_common(Tensor params, Tensor indices, std::int64_t axis);

// One tensor per x, in order: the gradient of the sum of all elements of all ys. An x
// the ys do not depend on gets x·0 (NaN where x is not finite); an x reached but passed
// nothing gets zeros of its known shape. Gradients through broadcasting arithmetic keep
// the broadcast shape (Adam sums them to the variable's shape). Panics on empty ys and
// on tensors of two graphs.
std::vector<Tensor> grad(std::span<const Tensor> ys, std::span<const Tensor> xs);

}  // namespace ketra_autograd::tensor_ops

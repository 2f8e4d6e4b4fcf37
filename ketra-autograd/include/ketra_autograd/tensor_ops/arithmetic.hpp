#pragma once
// Builders of elementwise arithmetic, functions, comparisons and clipping. Each adds its
// nodes to the graph of its first tensor and returns the last; a further tensor of
// another graph panics with "Detected tensors belonging to different graphs".
#include "ketra_autograd/graph.hpp"
#include "ketra_autograd/tensor.hpp"

namespace ketra_autograd::tensor_ops::arithmetic {

using tensor::Tensor;

// An InferBinOpShape node over two shape tensors.
Tensor infer_bin_opshape(graph::Graph& graph, Tensor lhs_shape, Tensor rhs_shape);

// Each adds, in order: shape(a), shape(b) (unless recorded), infer_bin_opshape of the
// two, and the operation node (inputs a, b) with that inference as its recorded shape.
Tensor add(Tensor a, Tensor b);
Tensor sub(Tensor a, Tensor b);
Tensor mul(Tensor a, Tensor b);
Tensor div(Tensor a, Tensor b);

// Each adds shape(x) (unless recorded) and the operation node with it as recorded shape.
Tensor exp(Tensor x);
Tensor ln(Tensor x);
Tensor neg(Tensor x);
Tensor pow(Tensor x, double exponent);

// An Equal or Greater node over (a, b), without a recorded shape.
Tensor equal(Tensor a, Tensor b);
Tensor greater(Tensor a, Tensor b);

// max(min(x, max), min) elementwise, built from scalar(min), scalar(max), a Minimum and a
// Maximum node (returned). A NaN element comes out as max; min above max gives min.
Tensor clip(Tensor x, double min, double max);

}  // namespace ketra_autograd::tensor_ops::arithmetic

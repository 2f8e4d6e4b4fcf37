#include "ketra_autograd/tensor_ops.hpp"

#include "ketra_autograd/tensor_ops/array_ops.hpp"
#include "ketra_autograd/tensor_ops/const_gen_ops.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops {

using tensor::TensorBuilder;

Tensor scalar(double value, graph::Graph& graph) {
  return TensorBuilder(graph).set_known_shape(tensor::KnownShape({})).build(const_gen_ops::Scalar(value));
}

Tensor convert_to_tensor(ArrayD array, graph::Graph& graph) {
  SmallVec<std::int64_t, 4> dims;
  for (std::size_t d : array.shape()) dims.push_back(static_cast<std::int64_t>(d));
  return TensorBuilder(graph)
      .set_known_shape(tensor::KnownShape(dims))
      .set_differentiable(false)
      .build(const_gen_ops::ConvertToTensor(std::move(array)));
}

Tensor shape(Tensor x) {
  if (const auto recorded = x.graph().node(x.id()).shape) return Tensor(x.graph(), *recorded);
  return TensorBuilder(x.graph()).append_input_with_selector(x).set_differentiable(false).build(array_ops::Shape{});
}

Tensor reshape(Tensor x, Tensor shape) {
  return TensorBuilder(x.graph())
      .append_input_with_selector(x)
      .append_input_with_selector(shape)
      .set_shape(shape)
      .build(array_ops::Reshape{});
}

Tensor flatten(Tensor x) {
  const Tensor minus_one = tensor::as_tensor(std::array<std::int32_t, 1>{-1}, x.graph());
  return TensorBuilder(x.graph())
      .append_input_with_selector(x)
      .append_input_with_selector(minus_one)
      .set_shape(minus_one)
      .build(array_ops::Reshape{});
}

Tensor squeeze(Tensor x, Tensor axes) {
  return TensorBuilder(x.graph()).append_input_with_selector(x).append_input_with_selector(axes).build(
      array_ops::Squeeze{});
}

Tensor expand_dims(Tensor x, Tensor axes) {
  return TensorBuilder(x.graph()).append_input_with_selector(x).append_input_with_selector(axes).build(
      array_ops::ExpandDims{});
}

Tensor slice(Tensor x, std::span<const std::int64_t> starts, std::span<const std::int64_t> ends) {
  if (starts.size() != ends.size()) {
    support::panic("slice: {} starts and {} ends do not pair up", starts.size(), ends.size());
  }
  array_ops::SliceList indices;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::optional<std::int64_t> end;
    if (ends[i] < -1) {
      end = ends[i] + 1;  // inclusive of the element it names
    } else if (ends[i] != -1) {
      end = ends[i];
    }
    indices.push_back(SliceElem{starts[i], end, 1});
  }
  return TensorBuilder(x.graph()).append_input_with_selector(x).build(array_ops::Slice(std::move(indices)));
}

Tensor gather_common(Tensor params, Tensor indices, std::int64_t axis) {
  return TensorBuilder(params.graph())
      .append_input_with_selector(indices)
      .append_input_with_selector(params)
      .build(array_ops::Gather(axis, true));
}

}  // namespace ketra_autograd::tensor_ops

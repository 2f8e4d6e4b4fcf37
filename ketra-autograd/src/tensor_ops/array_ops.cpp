#include "ketra_autograd/tensor_ops/array_ops.hpp"

#include <algorithm>

#include "ketra_autograd/ndarray_ext.hpp"
#include "ketra_autograd/tensor_ops.hpp"
#include "support/checked.hpp"
#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::array_ops {

namespace {

using ndarray_ext::signed_entry;
using ndarray_ext::unsigned_entry;

// The size a -1 entry of a reshape target stands for: the element count divided by the
// magnitude of the product of all target entries (the -1 included).
std::size_t inferred_size(const ArrayD& target, std::size_t element_count) {
  double product = 1.0;
  for (double entry : target.data()) product *= entry;
  if (!(product > -support::two_pow_64 && product < 1.0)) support::panic("Operation failed");
  const std::size_t divisor = static_cast<std::size_t>(*support::truncate_u64(-product));
  if (divisor == 0) {
    support::panic("reshape: cannot infer the size of a -1 entry when the other target sizes "
                   "multiply to zero");
  }
  return element_count / divisor;
}

// Axes as positions of an array of the given rank, negative ones counting from the end.
SmallVec<std::size_t, 4> sorted_positions(const ArrayD& axes, std::size_t rank, const char* op_name) {
  SmallVec<std::size_t, 4> positions;
  for (double entry : axes.data()) {
    const std::int64_t axis = signed_entry(entry);
    const std::int64_t position = axis < 0 ? axis + static_cast<std::int64_t>(rank) : axis;
    if (position < 0 || position >= static_cast<std::int64_t>(rank)) {
      support::panic("{}: axis {} is out of range for an array of rank {}", op_name, axis, rank);
    }
    positions.push_back(static_cast<std::size_t>(position));
  }
  std::sort(positions.begin(), positions.end());
  return positions;
}

}  // namespace

op::ComputeResult Shape::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  SmallVec<double, 4> dims;
  for (std::size_t d : x.shape()) dims.push_back(static_cast<double>(d));
  ctx.append_output(ArrayD::from_vec(dims));
  return {};
}

void Shape::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, std::nullopt); }

op::ComputeResult Reshape::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  const ArrayD& target = ctx.input(1);
  Dims shape;
  for (double entry : target.data()) {
    shape.push_back(entry == -1.0 ? inferred_size(target, x.len()) : unsigned_entry(entry));
  }
  if (checked_element_count(shape) != x.len()) {
    return std::unexpected(error::OpError::incompatible_shape(
        fmt::format("reshape failed: {} vs {}", x.shape_text(), support::debug_list<std::size_t>(shape))));
  }
  ctx.append_output(*ArrayD(x).into_shape(shape));
  return {};
}

void Reshape::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, reshape(ctx.output_grad(), shape(ctx.input(0))));
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult Squeeze::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  const auto positions = sorted_positions(ctx.input(1), x.ndim(), "squeeze");
  ArrayD out = x;
  for (std::size_t k = 0; k < positions.size(); ++k) {
    if (k > 0 && positions[k] == positions[k - 1]) {
      support::panic("squeeze: axis {} is listed twice", positions[k]);
    }
    if (x.shape()[positions[k]] != 1) support::panic("Can't squeeze a dim whose size != 1");
    out.remove_axis(positions[k] - k);  // k axes before it are gone already
  }
  ctx.append_output(std::move(out));
  return {};
}

void Squeeze::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, expand_dims(ctx.output_grad(), ctx.input(1)));
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult ExpandDims::compute(op::ComputeContext& ctx) const {
  const ArrayD& x = ctx.input(0);
  const auto rank = static_cast<std::int64_t>(x.ndim());
  SmallVec<std::int64_t, 4> axes;
  for (double entry : ctx.input(1).data()) axes.push_back(signed_entry(entry));
  std::sort(axes.begin(), axes.end());
  Dims shape(x.shape());
  for (std::int64_t axis : axes) {
    const std::int64_t position = axis < 0 ? axis + rank : axis;
    if (position < 0 || position > static_cast<std::int64_t>(shape.size())) {
      support::panic("expand_dims: cannot insert axis {} into shape {}", axis,
                     support::debug_list<std::size_t>(shape));
    }
    shape.insert(static_cast<std::size_t>(position), 1);
  }
  auto out = ArrayD(x).into_shape(shape);
  if (!out) support::panic("Operation failed");
  ctx.append_output(std::move(*out));
  return {};
}

void ExpandDims::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, squeeze(ctx.output_grad(), ctx.input(1)));
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult Slice::compute(op::ComputeContext& ctx) const {
  ctx.append_output(ctx.input(0).sliced(indices_));
  return {};
}

void Slice::grad(op::GradientContext& ctx) const {
  const tensor::Tensor x = ctx.input(0);
  const tensor::Tensor x_shape = shape(x);
  const tensor::Tensor gx = tensor::TensorBuilder(ctx.graph())
                                .append_input_with_selector(x)
                                .append_input_with_selector(ctx.output_grad())
                                .set_shape(x_shape)
                                .build(SliceGrad(indices_));
  ctx.set_input_grad(0, gx);
}

op::ComputeResult SliceGrad::compute(op::ComputeContext& ctx) const {
  ArrayD out = ArrayD::zeros(ctx.input(0).shape());
  out.assign_slice(indices_, ctx.input(1));
  ctx.append_output(std::move(out));
  return {};
}

void SliceGrad::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace ketra_autograd::tensor_ops::array_ops

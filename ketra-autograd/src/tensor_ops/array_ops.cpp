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
    support::panic(
        "reshape: cannot infer the size of a -1 entry when the other target sizes "
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
      support::panic("expand_dims: cannot insert axis {} into shape {}", axis, support::debug_list<std::size_t>(shape));
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

namespace {

// One entry of the broadcast shape of two shape tensors; negative entries are unknown.
double inferred_entry(double l, double r) {
  if (l < 0.0) return r < 0.0 ? l : r;
  if (r < 0.0) return l;
  return l > r ? l : r;
}

bool is_empty_or_one(const Dims& sizes) { return sizes.empty() || (sizes.size() == 1 && sizes[0] == 1); }

// The position `axis` names in an array of `rank` axes, negative counting from the end.
std::size_t resolve_axis(std::int64_t axis, std::size_t rank, const char* op_name) {
  const std::int64_t position = axis < 0 ? axis + static_cast<std::int64_t>(rank) : axis;
  if (position < 0 || position >= static_cast<std::int64_t>(rank)) {
    support::panic("{}: axis {} is out of range for an array of rank {}", op_name, axis, rank);
  }
  return static_cast<std::size_t>(position);
}

// An array seen as [outer, length, inner] around one axis.
struct AxisBlocks {
  std::size_t outer = 1, length = 1, inner = 1;
};

AxisBlocks blocks_around(std::span<const std::size_t> shape, std::size_t axis) {
  AxisBlocks blocks{1, shape[axis], 1};
  for (std::size_t i = 0; i < axis; ++i) blocks.outer *= shape[i];
  for (std::size_t i = axis + 1; i < shape.size(); ++i) blocks.inner *= shape[i];
  return blocks;
}

// The positions along an axis of `axis_length` that Gather reads the indices at, and
// that GatherGrad writes back to: each entry truncated, with normalize_negative a
// negative entry counting from the end (unreadable ones as 0), without it an unreadable
// entry panicking. A position beyond the axis panics naming the operation.
Dims gather_positions(const ArrayD& indices, std::size_t axis_length, bool normalize_negative, const char* op_name) {
  Dims positions;
  if (normalize_negative) {
    positions = ndarray_ext::normalize_negative_axes(indices, axis_length);
  } else {
    for (double entry : indices.data()) {
      const auto position = support::truncate_u64(entry);
      if (!position) support::panic("Invalid index value");
      positions.push_back(static_cast<std::size_t>(*position));
    }
  }
  for (std::size_t position : positions) {
    if (position >= axis_length) {
      support::panic("{}: index {} is out of range for an axis of length {}", op_name, position, axis_length);
    }
  }
  return positions;
}

}  // namespace

op::ComputeResult InferBinOpShape::compute(op::ComputeContext& ctx) const {
  const ArrayD& lhs = ctx.input(0);
  const ArrayD& rhs = ctx.input(1);
  if (is_empty_or_one(ndarray_ext::unsigned_reading(lhs))) {
    ctx.append_output(rhs);
    return {};
  }
  if (is_empty_or_one(ndarray_ext::unsigned_reading(rhs))) {
    ctx.append_output(lhs);
    return {};
  }
  if (lhs.len() != rhs.len()) {
    return std::unexpected(error::OpError::incompatible_shape("InferBinOpShape: rank of lhs and rhs must match."));
  }
  const std::size_t length = lhs.len();
  ArrayD out = ArrayD::for_overwrite(std::span<const std::size_t>(&length, 1));
  for (std::size_t i = 0; i < length; ++i) out[i] = inferred_entry(lhs[i], rhs[i]);
  ctx.append_output(std::move(out));
  return {};
}

void InferBinOpShape::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

op::ComputeResult AddN::compute(op::ComputeContext& ctx) const {
  const auto inputs = ctx.inputs();
  if (inputs.empty()) support::panic("internal error: entered unreachable code");
  if (inputs.size() == 1) {
    ctx.append_output(*inputs[0]);
    return {};
  }
  constexpr auto plus = [](double l, double r) { return l + r; };
  auto first_two = zip_with(*inputs[0], *inputs[1], plus);
  if (!first_two) {
    support::panic("AddN: cannot broadcast shapes {} and {} against each other", inputs[0]->shape_text(),
                   inputs[1]->shape_text());
  }
  ArrayD sum = std::move(*first_two);
  for (std::size_t i = 2; i < inputs.size(); ++i) {
    auto next = zip_in_shape(sum, *inputs[i], sum.shape(), plus);
    if (!next) {
      support::panic("AddN: cannot broadcast input {} of shape {} to the sum's shape {}", i, inputs[i]->shape_text(),
                     sum.shape_text());
    }
    sum = std::move(*next);
  }
  ctx.append_output(std::move(sum));
  return {};
}

void AddN::grad(op::GradientContext& ctx) const {
  const tensor::Tensor gy = ctx.output_grad();
  for (std::size_t i = 0; i < ctx.num_inputs(); ++i) ctx.set_input_grad(i, gy);
}

op::ComputeResult Gather::compute(op::ComputeContext& ctx) const {
  const ArrayD& indices = ctx.input(0);
  const ArrayD& params = ctx.input(1);
  const std::size_t axis = resolve_axis(axis_, params.ndim(), "Gather");
  const AxisBlocks blocks = blocks_around(params.shape(), axis);
  const Dims positions = gather_positions(indices, blocks.length, normalize_negative_indices_, "Gather");
  Dims out_shape(params.shape().first(axis));
  for (std::size_t d : indices.shape()) out_shape.push_back(d);
  for (std::size_t d : params.shape().subspan(axis + 1)) out_shape.push_back(d);
  ArrayD out = ArrayD::for_overwrite(out_shape);
  double* dst = out.data().data();
  for (std::size_t o = 0; o < blocks.outer; ++o) {
    for (std::size_t position : positions) {
      const double* src = params.data().data() + (o * blocks.length + position) * blocks.inner;
      dst = std::copy_n(src, blocks.inner, dst);
    }
  }
  ctx.append_output(std::move(out));
  return {};
}

void Gather::grad(op::GradientContext& ctx) const {
  const tensor::Tensor indices = ctx.input(0);
  const tensor::Tensor params = ctx.input(1);
  const tensor::Tensor params_shape = shape(params);
  const tensor::Tensor gx = tensor::TensorBuilder(ctx.graph())
                                .append_input_with_selector(indices)
                                .append_input_with_selector(params)
                                .append_input_with_selector(ctx.output_grad())
                                .set_shape(params_shape)
                                .build(GatherGrad(axis_, normalize_negative_indices_));
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, gx);
}

op::ComputeResult GatherGrad::compute(op::ComputeContext& ctx) const {
  const ArrayD& indices = ctx.input(0);
  const ArrayD& params = ctx.input(1);
  const ArrayD& gy = ctx.input(2);
  const std::size_t axis = resolve_axis(axis_, params.ndim(), "GatherGrad");
  const AxisBlocks blocks = blocks_around(params.shape(), axis);
  const std::size_t n = indices.len();
  if (gy.len() != blocks.outer * n * blocks.inner) support::panic("Operation failed");
  const Dims positions = gather_positions(indices, blocks.length, normalize_negative_indices_, "GatherGrad");
  ArrayD out = ArrayD::zeros(params.shape());
  for (std::size_t j = 0; j < n; ++j) {
    const std::size_t position = positions[j];
    for (std::size_t o = 0; o < blocks.outer; ++o) {
      const double* src = gy.data().data() + (o * n + j) * blocks.inner;
      double* dst = out.data().data() + (o * blocks.length + position) * blocks.inner;
      for (std::size_t i = 0; i < blocks.inner; ++i) dst[i] += src[i];
    }
  }
  ctx.append_output(std::move(out));
  return {};
}

void GatherGrad::grad(op::GradientContext& ctx) const {
  for (std::size_t i = 0; i < 3; ++i) ctx.set_input_grad(i, std::nullopt);
}

}  // namespace ketra_autograd::tensor_ops::array_ops

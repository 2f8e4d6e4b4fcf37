#include "ketra_autograd/tensor_ops/gradient_descent_ops/adam.hpp"

#include <cmath>
#include <optional>

#include <fmt/format.h>

#include "support/panic.hpp"

namespace ketra_autograd::tensor_ops::gradient_descent_ops::adam {

namespace {

ArrayD one_value(double value, bool rank0) {
  constexpr std::size_t one[] = {1};
  return rank0 ? ArrayD::scalar(value) : ArrayD::from_elem(one, value);
}

// g brought to p's shape where it is a whole number of copies of it; else g itself.
ArrayD adjusted_gradient(const ArrayD& p, const ArrayD& g) {
  const std::size_t P = p.len();
  const std::size_t G = g.len();
  if (P == 1) {
    if (G <= 1) return g;
    double sum = 0.0;
    for (double x : g.data()) sum += x;
    return one_value(sum, p.ndim() == 0);
  }
  if (same_shape(p.shape(), g.shape()) || P == 0 || G <= P || G % P != 0) return g;
  ArrayD out = ArrayD::zeros(p.shape());
  double* dst = out.data().data();
  for (std::size_t at = 0; at < G; at += P) {
    for (std::size_t k = 0; k < P; ++k) dst[k] += g[at + k];
  }
  return out;
}

// A single-element state array spread over g's shape when g has rank 1 or more.
const ArrayD& expanded(const ArrayD& state, const ArrayD& g, std::optional<ArrayD>& storage) {
  if (state.len() != 1 || g.ndim() == 0 || same_shape(state.shape(), g.shape())) return state;
  storage = ArrayD::from_elem(g.shape(), state[0]);
  return *storage;
}

// f(a[i], b[i]) over a's shape, b paired as a 0-d value, by index or broadcast to a.
template <typename F>
ArrayD paired(const ArrayD& a, const ArrayD& b, F&& f) {
  std::optional<ArrayD> out = zip_in_shape(a, b, a.shape(), f);
  if (!out) support::panic("ndarray: could not broadcast array from shape: {} to: {}", b.shape_text(), a.shape_text());
  return std::move(*out);
}

}  // namespace

std::expected<double, error::OpError> extract_scalar(const ArrayD& array) {
  if (array.len() == 1) return array[0];
  return std::unexpected(error::OpError::incompatible_shape(
      fmt::format("Expected scalar or 1-element array, got shape {}", array.shape_text())));
}

op::ComputeResult AdamOp::compute(op::ComputeContext& ctx) const {
  if (ctx.num_inputs() < adam_input_count) {
    return std::unexpected(
        error::OpError::incompatible_shape(fmt::format("AdamOp requires 5 inputs, but got {}", ctx.num_inputs())));
  }
  const auto input = [&](AdamInput which) -> const ArrayD& { return ctx.input(static_cast<std::size_t>(which)); };
  const ArrayD& t = input(AdamInput::Step);
  const auto step = extract_scalar(t);
  if (!step) return std::unexpected(step.error());
  const double t_next = *step + 1.0;

  ArrayD g = adjusted_gradient(input(AdamInput::Param), input(AdamInput::Gradient));
  std::optional<ArrayD> m_storage, v_storage, p_storage;
  const ArrayD& m = expanded(input(AdamInput::FirstMoment), g, m_storage);
  const ArrayD& v = expanded(input(AdamInput::SecondMoment), g, v_storage);
  const ArrayD& p = expanded(input(AdamInput::Param), g, p_storage);

  const double b1 = b1_, b2 = b2_, one_minus_b1 = 1.0 - b1_, one_minus_b2 = 1.0 - b2_;
  ArrayD m_next = paired(m, g, [=](double mi, double gi) { return b1 * mi + one_minus_b1 * gi; });
  ArrayD v_next = paired(v, g, [=](double vi, double gi) { return b2 * vi + (one_minus_b2 * gi) * gi; });
  const double c1 = 1.0 / (1.0 - std::pow(b1_, t_next));
  const double c2 = 1.0 / (1.0 - std::pow(b2_, t_next));
  const ArrayD m_hat = m_next.map([=](double mi) { return mi * c1; });
  const ArrayD v_hat = v_next.map([=](double vi) { return vi * c2; });
  const double eps = eps_, alpha = alpha_;
  const ArrayD u = paired(m_hat, v_hat, [=](double mi, double vi) { return mi / (std::sqrt(vi) + eps); });
  ArrayD p_next = paired(p, u, [=](double pi, double ui) { return pi - alpha * ui; });

  ctx.append_output(std::move(p_next));
  ctx.append_output(std::move(g));
  ctx.append_output(std::move(m_next));
  ctx.append_output(std::move(v_next));
  ctx.append_output(one_value(t_next, t.ndim() == 0));
  static_assert(static_cast<std::size_t>(AdamOutput::Count) == 5);
  return {};
}

void AdamOp::grad(op::GradientContext&) const {}  // the update is never differentiated

}  // namespace ketra_autograd::tensor_ops::gradient_descent_ops::adam

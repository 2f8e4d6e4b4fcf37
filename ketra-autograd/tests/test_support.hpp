#pragma once
// Helpers shared by the autograd tests.
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/op.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::testing {

// A parameterised case's own `name` as its test name (the default is a byte dump of the
// case, different on every build).
template <typename Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// The message of the panic that f ends with, or "<no panic>".
template <typename F>
std::string panic_message(F&& f) {
  try {
    f();
  } catch (const support::Panic& panic) {
    return panic.message();
  }
  return "<no panic>";
}

inline ArrayD array(std::initializer_list<std::size_t> shape, std::initializer_list<double> values) {
  return *ArrayD::from_shape_vec(std::span<const std::size_t>(shape.begin(), shape.size()),
                                 std::span<const double>(values.begin(), values.size()));
}

inline ArrayD vec(std::initializer_list<double> values) {
  return ArrayD::from_vec(std::span<const double>(values.begin(), values.size()));
}

// 0, 1, 2, ... laid out in the shape.
inline ArrayD iota(std::initializer_list<std::size_t> shape) {
  ArrayD out = ArrayD::for_overwrite(std::span<const std::size_t>(shape.begin(), shape.size()));
  for (std::size_t i = 0; i < out.len(); ++i) out[i] = static_cast<double>(i);
  return out;
}

// An operation's compute run directly, with its outputs or its error.
struct Computed {
  op::ComputeResult result;
  std::vector<ArrayD> outputs;

  const ArrayD& out() const { return outputs.at(0); }
  std::string error_debug() const { return result ? "<success>" : result.error().debug(); }
};

inline Computed compute(const op::Op& op, const std::vector<ArrayD>& inputs) {
  std::vector<const ArrayD*> views;
  for (const ArrayD& a : inputs) views.push_back(&a);
  ArrayD first;
  std::vector<ArrayD> further;
  op::ComputeContext ctx(views, first, further);
  Computed computed{op.compute(ctx), {}};
  if (ctx.num_outputs() > 0) {
    computed.outputs.push_back(std::move(first));
    for (ArrayD& output : further) computed.outputs.push_back(std::move(output));
  }
  return computed;
}

inline std::vector<std::size_t> shape_of(const ArrayD& a) { return {a.shape().begin(), a.shape().end()}; }
inline std::vector<double> values_of(const ArrayD& a) { return {a.data().begin(), a.data().end()}; }

}  // namespace ketra_autograd::testing

#pragma once
// Helpers shared by the autograd tests.
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "ketra_autograd/ndarray.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::testing {

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

inline std::vector<std::size_t> shape_of(const ArrayD& a) { return {a.shape().begin(), a.shape().end()}; }
inline std::vector<double> values_of(const ArrayD& a) { return {a.data().begin(), a.data().end()}; }

}  // namespace ketra_autograd::testing

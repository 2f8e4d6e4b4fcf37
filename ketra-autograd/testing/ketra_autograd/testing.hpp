#pragma once
// Terse builders of arrays for the tests of ketra-autograd and of the libraries above it.
#include <cstddef>
#include <initializer_list>
#include <span>

#include "ketra_autograd/ndarray.hpp"

namespace ketra_autograd::testing {

inline ArrayD array(std::initializer_list<std::size_t> shape, std::initializer_list<double> values) {
  return *ArrayD::from_shape_vec(std::span<const std::size_t>(shape.begin(), shape.size()),
                                 std::span<const double>(values.begin(), values.size()));
}

inline ArrayD vec(std::initializer_list<double> values) {
  return ArrayD::from_vec(std::span<const double>(values.begin(), values.size()));
}

}  // namespace ketra_autograd::testing

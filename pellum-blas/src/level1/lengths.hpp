#pragma once
#include <cstddef>

#include "support/panic.hpp"

namespace pellum_blas::level1 {

// The two-vector kernels pair elements by index; unequal lengths are a caller's bug.
inline void require_equal_lengths(std::size_t left, std::size_t right) {
  if (left != right) [[unlikely]]
    support::panic("Vector lengths must match (left: {}, right: {})", left, right);
}

}  // namespace pellum_blas::level1

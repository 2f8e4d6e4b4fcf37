#pragma once
// Shared machinery of the exported C functions: argument decoding and the rule that no
// panic unwinds into a C caller.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "pellum_blas/cblas.h"
#include "support/panic.hpp"

namespace pellum_blas::cblas {

// Writes the panic's message and the reason for stopping to standard error, then aborts.
[[noreturn]] void abort_on_panic(const std::string& message) noexcept;

// Runs body on behalf of a C caller: a panic inside it ends the process.
template <typename Body>
auto without_unwinding(Body&& body) noexcept -> decltype(std::forward<Body>(body)()) {
  try {
    return std::forward<Body>(body)();
  } catch (const support::Panic& panic) {
    abort_on_panic(panic.message());
  }
}

// Element i of an n-vector whose elements lie inc units of T apart; a negative increment
// starts at the far end, so every element lies at or after the caller's pointer. Complex
// vectors use two units of T per element.
template <typename T>
class Strided {
 public:
  Strided(T* x, std::int32_t n, std::ptrdiff_t inc)
      : first_(inc < 0 && n > 1 ? x + static_cast<std::ptrdiff_t>(n - 1) * -inc : x), inc_(inc) {}
  T* at(std::ptrdiff_t i) const { return first_ + i * inc_; }
  T& operator[](std::ptrdiff_t i) const { return *at(i); }

 private:
  T* first_;
  std::ptrdiff_t inc_;
};

// A leading dimension must cover the rows its column-major matrix holds, and at least 1.
inline bool leading_dimension_fits(std::int32_t ld, std::size_t rows) {
  return ld >= 1 && static_cast<std::size_t>(ld) >= rows;
}

}  // namespace pellum_blas::cblas

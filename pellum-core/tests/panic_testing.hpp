#pragma once
// The panic helper shared by the tests of the dense-kernel libraries (pellum-core,
// -matrix, -blas).
#include <string>

#include "support/panic.hpp"

namespace pellum_testing {

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

}  // namespace pellum_testing

#include "interface.hpp"

#include <cstdio>
#include <cstdlib>

namespace pellum_blas::cblas {

void abort_on_panic(const std::string& message) noexcept {
  std::fputs(message.c_str(), stderr);
  std::fputs("\npanic in a function that cannot unwind\n", stderr);
  std::abort();
}

}  // namespace pellum_blas::cblas

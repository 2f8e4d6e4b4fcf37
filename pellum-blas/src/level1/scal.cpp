#include "pellum_blas/level1/scal.hpp"

#include <cstddef>
#include <cstring>

namespace pellum_blas::level1::scal {

template <typename T>
void scal(T alpha, std::span<T> x) {
  if (x.empty() || alpha == 1) return;
  if (alpha == 0) {
    // Clearing the memory, not multiplying, so that NaN and infinity become +0 too.
    std::memset(x.data(), 0, x.size_bytes());
    return;
  }
  T* data = x.data();
  const std::size_t n = x.size();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (std::size_t r = 0; r < 4; ++r) data[i + r] *= alpha;
  for (; i < n; ++i) data[i] *= alpha;
}

template void scal<float>(float, std::span<float>);
template void scal<double>(double, std::span<double>);

}  // namespace pellum_blas::level1::scal

#pragma once
// The transpose of a square block held in L vectors of L lanes (GCC vector types), in
// registers: log2(L) stages of two-source shuffles. Inlined into its caller, so that it
// compiles for the caller's instruction set; vectors are only ever passed by reference,
// so that no signature depends on the instruction set.
#include <cstddef>
#include <utility>

namespace pellum_blas::detail {

// Stage d pairs the rows i and i + d (i without bit d) and swaps bit d of the row index
// with bit d of the lane index: the low row keeps its lanes without bit d and takes the
// partner's lanes below them, the high row the reverse. All stages together transpose.
template <std::size_t d, bool high, std::size_t L>
constexpr int transpose_lane(std::size_t k) {
  if (high) return static_cast<int>((k & d) == 0 ? k + d : L + k);
  return static_cast<int>((k & d) == 0 ? k : L + k - d);
}

template <std::size_t d, typename V, std::size_t L, std::size_t... K>
[[gnu::always_inline]] inline void transpose_stage_pair(V (&v)[L], std::size_t i, std::index_sequence<K...>) {
  const V low = __builtin_shufflevector(v[i], v[i + d], transpose_lane<d, false, L>(K)...);
  const V high = __builtin_shufflevector(v[i], v[i + d], transpose_lane<d, true, L>(K)...);
  v[i] = low;
  v[i + d] = high;
}

// Lane q of v[r] becomes lane r of v[q]; L (the array's length) is the lane count.
template <std::size_t d = 1, typename V, std::size_t L>
[[gnu::always_inline]] inline void transpose_in_registers(V (&v)[L]) {
  static_assert(sizeof(V) / sizeof(v[0][0]) == L, "a square block: as many vectors as lanes");
  if constexpr (d < L) {
#pragma GCC unroll 16
    for (std::size_t i = 0; i < L; ++i) {
      if ((i & d) == 0) transpose_stage_pair<d>(v, i, std::make_index_sequence<L>());
    }
    transpose_in_registers<2 * d>(v);
  }
}

}  // namespace pellum_blas::detail

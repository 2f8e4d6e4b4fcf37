#pragma once
// The micro-kernels: one MR × NR tile of C updated from packed panels,
// tile = alpha·(A panel · B panel) + beta·tile. One kernel per instruction-set level
// and element type; the level is decided once per process from the processor's
// features, and the same decision gives the packing's tile shape.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace pellum_blas::level3::gemm_kernel {

// Instruction-set levels, best last.
enum class KernelLevel : std::uint8_t { Scalar, Sse42, Avx2, Avx512 };
inline constexpr std::size_t kernel_level_count = static_cast<std::size_t>(KernelLevel::Avx512) + 1;

// Register tile: rows (MR) and columns (NR) of C per kernel call.
struct Tile {
  std::size_t mr;
  std::size_t nr;
};

// The tile of each level, indexed by KernelLevel.
template <typename T>
inline constexpr std::array<Tile, kernel_level_count> tiles{};
template <>
inline constexpr std::array<Tile, kernel_level_count> tiles<double>{{{4, 4}, {4, 2}, {8, 6}, {16, 6}}};
template <>
inline constexpr std::array<Tile, kernel_level_count> tiles<float>{{{4, 4}, {4, 4}, {8, 8}, {16, 16}}};

template <typename T>
constexpr Tile tile_for(KernelLevel level) {
  return tiles<T>[static_cast<std::size_t>(level)];
}

// The largest tile of any level: the driver's edge scratch holds one.
inline constexpr std::size_t max_tile_elements = 256;
static_assert(tile_for<float>(KernelLevel::Avx512).mr * tile_for<float>(KernelLevel::Avx512).nr <= max_tile_elements);

// The best level the processor runs: AVX-512F; else AVX2 together with FMA; else
// SSE4.2; else the scalar tile.
KernelLevel detected_level() noexcept;

// Whether the processor can run kernels of `level`.
bool supports(KernelLevel level) noexcept;

// The level GEMM uses: detected_level(), unless a test has forced another one.
KernelLevel active_level() noexcept;

// The kernel of one level. Reads kc·MR elements of a_panel (group p holds rows 0..MR-1
// of depth p) and kc·NR of b_panel (group p holds columns 0..NR-1 of depth p), writes
// the MR × NR tile at c with column stride ldc. kc >= 1.
//   SIMD levels: alpha = 1 skips the scaling (a NaN alpha scales); beta = 0 (either
//   sign) stores without reading C, so NaN or garbage there never survives; beta = 1
//   adds; other betas fold C in as beta·tile + acc (fused on AVX, multiply then add
//   on SSE4.2).
//   Scalar: fused multiply-adds of the C library, then fma(alpha, acc, beta·c); beta = 0
//   (either sign) gives fma(alpha, acc, 0), the result of a C of zeros, without reading C.
template <typename T>
using KernelFn = void (*)(std::size_t kc, const T* a_panel, const T* b_panel, T* c, std::size_t ldc, T alpha, T beta);

template <typename T>
KernelFn<T> kernel_for(KernelLevel level) noexcept;

// The kernel of `level` for the top-left rows × cols of a tile cut by the edge of C
// (1 <= rows <= MR, 1 <= cols <= NR), on the same panels: each of those elements comes out
// bit for bit as kernel_for(level) computes it. It writes only the first cols columns but
// rows up to a whole vector of the level (all 4 rows on the scalar level).
template <typename T>
KernelFn<T> edge_kernel_for(KernelLevel level, std::size_t rows, std::size_t cols) noexcept;

// The kernel of the active level, looked up on every call.
template <typename T>
void micro_kernel(std::size_t kc, const T* a_panel, const T* b_panel, T* c, std::size_t ldc, T alpha, T beta);

namespace detail {
// Tests only: makes active_level() answer `level` (nothing restores detection). A
// level the processor cannot run is refused and leaves the choice unchanged.
bool force_level(std::optional<KernelLevel> level) noexcept;
}  // namespace detail

}  // namespace pellum_blas::level3::gemm_kernel

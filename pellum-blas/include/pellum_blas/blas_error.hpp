#pragma once
// The status of the level-3 routines.
#include <cstdint>
#include <expected>

namespace pellum_blas {

// Why a level-3 routine refused or stopped. NotSquare and DimensionMismatch are found
// before anything is read or written; Singular (triangular solve only) leaves B partly
// solved.
enum class BlasError : std::uint8_t { NotSquare, DimensionMismatch, Singular };

using BlasStatus = std::expected<void, BlasError>;

}  // namespace pellum_blas

#pragma once
// Readings of array entries as sizes, axes and indices, and small array helpers the
// operations share. Entries are doubles, read row-major.
#include <cstddef>
#include <cstdint>

#include "ketra_autograd/ndarray.hpp"

namespace ketra_autograd::ndarray_ext {

// Truncated toward zero; the entry must lie strictly between -1 and 2^64, else the call
// ends with "Operation failed".
std::size_t unsigned_entry(double entry);
// Truncated toward zero; the entry must lie in [-2^63, 2^63), else the call ends with
// "Operation failed".
std::int64_t signed_entry(double entry);

// The lenient reading of a shape tensor: each entry strictly between -1 and 2^64
// truncated toward zero, every other entry (NaN and -1 included) read as 0.
Dims unsigned_reading(const ArrayD& shape);
// Axes as indices: a negative entry v becomes v + rank, then each is read leniently as
// above (-0.5 on rank 2 gives 1; -5 on rank 2 and NaN give 0). Order and duplicates kept.
Dims normalize_negative_axes(const ArrayD& axes, std::size_t rank);
// Axes as a mask: the positions whose entry equals 1.0, ascending.
Dims sparse_to_dense(const ArrayD& mask);
// The array with a size-1 axis inserted at `axis`; axis = rank appends one, an axis
// above the rank panics.
ArrayD expand_dims(ArrayD array, std::size_t axis);

}  // namespace ketra_autograd::ndarray_ext

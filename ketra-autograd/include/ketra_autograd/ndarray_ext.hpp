#pragma once
// Readings of array entries as sizes, axes and indices. Entries are doubles; one that
// cannot be read ends the call with "Operation failed".
#include <cstddef>
#include <cstdint>

namespace ketra_autograd::ndarray_ext {

// Truncated toward zero; the entry must lie strictly between -1 and 2^64.
std::size_t unsigned_entry(double entry);
// Truncated toward zero; the entry must lie in [-2^63, 2^63).
std::int64_t signed_entry(double entry);

}  // namespace ketra_autograd::ndarray_ext

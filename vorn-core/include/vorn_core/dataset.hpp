#pragma once
// The numeric input of one discovery: the input matrix (one row per sample, one column
// per variable), the target vector and their informational names.
#include <cstddef>
#include <expected>
#include <string>
#include <vector>

#include "ketra_autograd/ndarray.hpp"
#include "vorn_core/error.hpp"

namespace vorn_core::dataset {

using ketra_autograd::ArrayD;

struct DataSet {
  std::vector<std::string> feature_names;  // "x0", "x1", ... one per column
  std::string target_name;                 // always "y"
  ArrayD x;                                // rows x columns
  ArrayD y;                                // one entry per row

  // Takes both arrays. The row count of x must equal the length of y, else ShapeMismatch
  // "x has {rows} rows but y has {len} entries"; zero rows, zero columns, NaN and
  // infinities are accepted. x of rank other than 2 or y of rank other than 1 is a caller
  // fault and panics.
  static std::expected<DataSet, error::VornError> from_arrays(ArrayD x, ArrayD y);

  // Rows and columns of x (0 for a record not made by from_arrays).
  std::size_t rows() const noexcept { return x.ndim() == 2 ? x.shape()[0] : 0; }
  std::size_t columns() const noexcept { return x.ndim() == 2 ? x.shape()[1] : 0; }
};

}  // namespace vorn_core::dataset

#include "vorn_core/dataset.hpp"

#include <fmt/format.h>

#include "support/panic.hpp"

namespace vorn_core::dataset {

std::expected<DataSet, error::VornError> DataSet::from_arrays(ArrayD x, ArrayD y) {
  if (x.ndim() != 2) support::panic("data set inputs must be 2-D, got shape {}", x.shape_text());
  if (y.ndim() != 1) support::panic("data set targets must be 1-D, got shape {}", y.shape_text());
  const std::size_t rows = x.shape()[0];
  if (rows != y.len()) {
    return std::unexpected(
        error::VornError::shape_mismatch(fmt::format("x has {} rows but y has {} entries", rows, y.len())));
  }
  const std::size_t columns = x.shape()[1];
  std::vector<std::string> names;
  names.reserve(columns);
  for (std::size_t j = 0; j < columns; ++j) names.push_back(fmt::format("x{}", j));
  return DataSet{std::move(names), std::string(1, 'y'), std::move(x), std::move(y)};
}

}  // namespace vorn_core::dataset

#include "ketra_autograd/ndarray_ext.hpp"

#include "support/checked.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::ndarray_ext {

std::size_t unsigned_entry(double entry) {
  const auto value = support::truncate_u64(entry);
  if (!value) support::panic("Operation failed");
  return static_cast<std::size_t>(*value);
}

std::int64_t signed_entry(double entry) {
  const auto value = support::truncate_i64(entry);
  if (!value) support::panic("Operation failed");
  return *value;
}

namespace {

std::size_t lenient_entry(double entry) { return static_cast<std::size_t>(support::truncate_u64(entry).value_or(0)); }

}  // namespace

Dims unsigned_reading(const ArrayD& shape) {
  Dims sizes;
  for (double entry : shape.data()) sizes.push_back(lenient_entry(entry));
  return sizes;
}

Dims normalize_negative_axes(const ArrayD& axes, std::size_t rank) {
  Dims positions;
  for (double entry : axes.data())
    positions.push_back(lenient_entry(entry < 0.0 ? entry + static_cast<double>(rank) : entry));
  return positions;
}

Dims sparse_to_dense(const ArrayD& mask) {
  Dims positions;
  for (std::size_t i = 0; i < mask.len(); ++i) {
    if (mask[i] == 1.0) positions.push_back(i);
  }
  return positions;
}

ArrayD expand_dims(ArrayD array, std::size_t axis) {
  array.insert_axis(axis);
  return array;
}

}  // namespace ketra_autograd::ndarray_ext

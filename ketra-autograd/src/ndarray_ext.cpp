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

}  // namespace ketra_autograd::ndarray_ext

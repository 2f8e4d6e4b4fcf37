#include "support/panic.hpp"

namespace support {

void panic(std::string message) { throw Panic(std::move(message)); }

void assertion_failed(std::string_view comparison, std::size_t left, std::size_t right) {
  panic("assertion `left {} right` failed\n  left: {}\n right: {}", comparison, left, right);
}

}  // namespace support

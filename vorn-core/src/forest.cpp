#include "vorn_core/forest.hpp"

#include <deque>
#include <mutex>
#include <string>

#include <fmt/format.h>

namespace vorn_core::forest {

std::string_view col_placeholder_name(std::size_t i) {
  // Never destroyed, so that names stay valid even while the process exits; a deque never
  // moves its elements when it grows.
  static auto* const mutex = new std::mutex;
  static auto* const names = new std::deque<std::string>;
  std::lock_guard lock(*mutex);
  while (names->size() <= i) names->push_back(fmt::format("vorn_x{}", names->size()));
  return (*names)[i];
}

}  // namespace vorn_core::forest

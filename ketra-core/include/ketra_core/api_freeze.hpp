#pragma once
// The frozen set of public names: 85 registrations at version 1.0.0.
#include <cstddef>

namespace ketra_core::api_freeze::api_freeze_impl {

inline constexpr std::size_t registered_api_count = 85;

// Registers the frozen names in the global registry; only the first call does anything.
// The library's load-time initialiser calls it, so callers never need to.
void init();

}  // namespace ketra_core::api_freeze::api_freeze_impl

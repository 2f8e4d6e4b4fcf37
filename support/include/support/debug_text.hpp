#pragma once
// Debug-style text used in messages: quoted, escaped strings and bracketed lists.
#include <span>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace support {

// Double quotes around the text; backslash escapes for '"', '\\', '\n', '\r', '\t' and
// NUL, "\u{hex}" for other control characters. A single quote stays as it is.
std::string debug_str(std::string_view text);

// "[2, 3]", "[]": integers separated by ", ".
template <typename Int>
std::string debug_list(std::span<const Int> values) {
  return fmt::format("[{}]", fmt::join(values, ", "));
}

}  // namespace support

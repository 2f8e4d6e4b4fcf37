#pragma once
// A violated invariant ends the current call with a Panic. It deliberately does not
// derive from std::exception so that no generic handler swallows it; only the Python
// boundary (which re-raises it as PanicException) and the C entry points handle it.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>

namespace support {

class Panic {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept { return message_.c_str(); }

 private:
  std::string message_;
};

[[noreturn]] void panic(std::string message);

// The panic of a failed comparison of two counts, in the standard assertion form:
// "assertion `left == right` failed\n  left: 1\n right: 0" for comparison "==".
[[noreturn]] void assertion_failed(std::string_view comparison, std::size_t left, std::size_t right);

// fmt prints doubles with exponents; format numbers with number_text.hpp first.
template <typename... Args>
[[noreturn]] void panic(fmt::format_string<Args...> format, Args&&... args) {
  panic(fmt::format(format, std::forward<Args>(args)...));
}

}  // namespace support

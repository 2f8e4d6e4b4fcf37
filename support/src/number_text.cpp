#include "support/number_text.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace support {
namespace {

// Returns true (and appends the text) when value is NaN or infinite.
bool append_non_finite(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

void append_shortest(std::string& out, double value) {
  if (append_non_finite(out, value)) return;
  // Shortest round-trip digits come from the scientific form ("d.ddde±x"); we lay them
  // out ourselves because the fixed form of to_chars prints the exact binary expansion.
  std::array<char, 32> buffer;
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
  std::string_view text(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
  if (text.front() == '-') {
    out += '-';
    text.remove_prefix(1);
  }
  const std::size_t e_pos = text.find('e');
  const int exponent = std::atoi(std::string(text.substr(e_pos + 1)).c_str());
  std::string digits;
  for (char c : text.substr(0, e_pos)) {
    if (c != '.') digits += c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int point = exponent + 1;  // digits before the decimal point
  const int count = static_cast<int>(digits.size());
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= count) {
    out += digits;
    out.append(static_cast<std::size_t>(point - count), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits, static_cast<std::size_t>(point), std::string::npos);
  }
}

std::string shortest(double value) {
  std::string out;
  append_shortest(out, value);
  return out;
}

void append_fixed6(std::string& out, double value) {
  if (append_non_finite(out, value)) return;
  // 309 integer digits, the point, six decimals and a sign fit comfortably.
  std::array<char, 400> buffer;
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 6);
  out.append(buffer.data(), end);
}

std::string fixed6(double value) {
  std::string out;
  append_fixed6(out, value);
  return out;
}

std::string exponent6(double value) {
  std::string out;
  if (append_non_finite(out, value)) return out;
  // to_chars writes "d.dddddde+XX"; the exponent is re-laid out without sign and padding.
  std::array<char, 32> buffer;
  auto [end, error] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific, 6);
  const std::string_view text(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
  const std::size_t e_pos = text.find('e');
  out.append(text.substr(0, e_pos + 1));
  out += std::to_string(std::atoi(std::string(text.substr(e_pos + 1)).c_str()));
  return out;
}

}  // namespace support

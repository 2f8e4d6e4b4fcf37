#include "support/debug_text.hpp"

namespace support {

std::string debug_str(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default: {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
          out += fmt::format("\\u{{{:x}}}", byte);
        } else {
          out += c;
        }
      }
    }
  }
  out += '"';
  return out;
}

}  // namespace support

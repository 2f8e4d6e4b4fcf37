#include "support/panic.hpp"

namespace support {

void panic(std::string message) { throw Panic(std::move(message)); }

}  // namespace support

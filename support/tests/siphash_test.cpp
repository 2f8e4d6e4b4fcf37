#include <bit>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "support/siphash.hpp"

namespace {

TEST(SipHash13, ZeroKeyDigests) {
  support::SipHasher13 empty;
  EXPECT_EQ(empty.finish(), 0xd1fba762150c532cULL);

  // Tag byte then a little-endian payload: the unaligned path of write_u64_le.
  support::SipHasher13 one;
  one.write_u8(0);
  one.write_u64_le(std::bit_cast<std::uint64_t>(1.0));
  EXPECT_EQ(one.finish(), 0x3e56e80252f3e0a5ULL);

  support::SipHasher13 var0;
  var0.write_u8(1);
  var0.write_u64_le(0);
  EXPECT_EQ(var0.finish(), 0xdc58fdc2e5c5babeULL);
}

TEST(SipHash13, StreamingEqualsOneShot) {
  std::vector<std::uint8_t> bytes(37);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
  support::SipHasher13 whole;
  whole.write(bytes);
  for (std::size_t split = 0; split <= bytes.size(); ++split) {
    support::SipHasher13 parts;
    parts.write(std::span(bytes).first(split));
    parts.write(std::span(bytes).subspan(split));
    EXPECT_EQ(parts.finish(), whole.finish()) << split;
  }
  // An aligned u64 write equals its eight bytes written one by one.
  support::SipHasher13 aligned;
  aligned.write_u64_le(0x0102030405060708ULL);
  support::SipHasher13 bytewise;
  for (int i = 0; i < 8; ++i) bytewise.write_u8(static_cast<std::uint8_t>(8 - i));
  EXPECT_EQ(aligned.finish(), bytewise.finish());
}

}  // namespace

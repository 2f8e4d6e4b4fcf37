#include "support/siphash.hpp"

#include <bit>

namespace support {
namespace {

struct State {
  std::uint64_t v0, v1, v2, v3;
  void round() {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
};

}  // namespace

SipHasher13::SipHasher13(std::uint64_t key0, std::uint64_t key1)
    : v0_(key0 ^ 0x736f6d6570736575ULL),
      v1_(key1 ^ 0x646f72616e646f6dULL),
      v2_(key0 ^ 0x6c7967656e657261ULL),
      v3_(key1 ^ 0x7465646279746573ULL) {}

void SipHasher13::compress(std::uint64_t block) {
  State s{v0_, v1_, v2_, v3_ ^ block};
  s.round();
  s.v0 ^= block;
  v0_ = s.v0;
  v1_ = s.v1;
  v2_ = s.v2;
  v3_ = s.v3;
}

void SipHasher13::write_u8(std::uint8_t value) {
  tail_ |= static_cast<std::uint64_t>(value) << (8 * tail_len_);
  ++length_;
  if (++tail_len_ == 8) {
    compress(tail_);
    tail_ = 0;
    tail_len_ = 0;
  }
}

void SipHasher13::write(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) write_u8(byte);
}

void SipHasher13::write_u64_le(std::uint64_t value) {
  if (tail_len_ == 0) {  // aligned: one whole block
    length_ += 8;
    compress(value);
    return;
  }
  for (int i = 0; i < 8; ++i) write_u8(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t SipHasher13::finish() const {
  const std::uint64_t last = tail_ | (length_ << 56);
  State s{v0_, v1_, v2_, v3_ ^ last};
  s.round();
  s.v0 ^= last;
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace support

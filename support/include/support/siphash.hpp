#pragma once
// Streaming SipHash-1-3 (one compression round per block, three finalisation rounds).
// With both keys zero it gives the same digest in every process, which is what the
// structural keys of expressions need.
#include <cstddef>
#include <cstdint>
#include <span>

namespace support {

class SipHasher13 {
 public:
  explicit SipHasher13(std::uint64_t key0 = 0, std::uint64_t key1 = 0);

  void write(std::span<const std::uint8_t> bytes);
  void write_u8(std::uint8_t value);
  void write_u64_le(std::uint64_t value);
  // The digest of everything written so far; the state is not changed.
  std::uint64_t finish() const;

 private:
  void compress(std::uint64_t block);

  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;    // pending bytes, least significant first
  std::size_t tail_len_ = 0;  // number of pending bytes (0..7)
  std::uint64_t length_ = 0;  // total bytes written
};

}  // namespace support

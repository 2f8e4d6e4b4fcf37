#include "pellum_core/memory/aligned_vec.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>

#include "panic_testing.hpp"

namespace pellum_core::memory::aligned_vec {
namespace {

using pellum_testing::panic_message;

bool is_line_aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 64 == 0; }

TEST(AlignedVec, EmptyAllocatesNothing) {
  const auto v = AlignedVec<double>::zeros_in(0);
  EXPECT_EQ(v.len(), 0u);
  EXPECT_EQ(v.capacity(), 0u);
  EXPECT_NE(v.data(), nullptr);
  EXPECT_TRUE(is_line_aligned(v.data()));
}

TEST(AlignedVec, ElementsArePositiveZeroAndLineAligned) {
  // Several sizes, so that a start that merely happens to be aligned is not mistaken
  // for one that is made aligned.
  for (std::size_t n : {1u, 3u, 7u, 64u, 1000u, 100000u}) {
    SCOPED_TRACE(n);
    const auto v = AlignedVec<double>::zeros_in(n);
    ASSERT_EQ(v.len(), n);
    EXPECT_EQ(v.capacity(), n);
    EXPECT_TRUE(is_line_aligned(v.data()));
    for (const double x : v.as_slice()) ASSERT_EQ(std::bit_cast<std::uint64_t>(x), 0u);
  }
  const auto f = AlignedVec<float>::zeros_in(5);
  EXPECT_TRUE(is_line_aligned(f.data()));
  for (const float x : f.as_slice()) EXPECT_EQ(std::bit_cast<std::uint32_t>(x), 0u);
}

TEST(AlignedVec, WholeBufferIsWritable) {
  // Under AddressSanitizer this catches a buffer that ends before its last element.
  auto v = AlignedVec<float>::zeros_in(33);
  for (float& x : v.as_slice()) x = 1.0f;
  EXPECT_EQ(v.data()[32], 1.0f);
}

TEST(AlignedVec, MoveTransfersOwnership) {
  auto a = AlignedVec<double>::zeros_in(4);
  a.data()[3] = 2.5;
  const double* storage = a.data();
  AlignedVec<double> b(std::move(a));
  EXPECT_EQ(b.data(), storage);
  EXPECT_EQ(b.data()[3], 2.5);
  EXPECT_EQ(a.len(), 0u);
  a = std::move(b);
  EXPECT_EQ(a.data(), storage);
  EXPECT_EQ(b.capacity(), 0u);
}

TEST(AlignedVec, OversizedRequestsPanicBeforeAllocating) {
  const std::string invalid = "Invalid layout: LayoutError";
  // 2^60 doubles are 2^63 bytes.
  EXPECT_EQ(panic_message([] { AlignedVec<double>::zeros_in(std::size_t{1} << 60); }), invalid);
  // The largest size that rounds to whole lines below 2^63 is accepted in principle;
  // one element more is not.
  EXPECT_EQ(panic_message([] { AlignedVec<char>::zeros_in((std::size_t{1} << 63) - 63); }), invalid);
  // The byte count itself overflows.
  EXPECT_EQ(panic_message([] { AlignedVec<double>::zeros_in(std::numeric_limits<std::size_t>::max()); }),
            invalid);
}

struct StrideCase {
  std::size_t rows;
  std::size_t f64_stride;
  std::size_t f32_stride;
};

TEST(PaddedStride, RoundsUpToWholeLines) {
  for (const StrideCase& c : {StrideCase{0, 0, 0}, StrideCase{1, 8, 16}, StrideCase{8, 8, 16},
                              StrideCase{9, 16, 16}, StrideCase{16, 16, 16}, StrideCase{17, 24, 32},
                              StrideCase{33, 40, 48}}) {
    SCOPED_TRACE(c.rows);
    EXPECT_EQ(padded_stride<double>(c.rows), c.f64_stride);
    EXPECT_EQ(padded_stride<float>(c.rows), c.f32_stride);
  }
  EXPECT_EQ(panic_message([] { padded_stride<double>(std::numeric_limits<std::size_t>::max()); }),
            "Invalid layout: LayoutError");
}

}  // namespace
}  // namespace pellum_core::memory::aligned_vec

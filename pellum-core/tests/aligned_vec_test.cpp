#include "pellum_core/memory/aligned_vec.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "support/testing.hpp"

namespace pellum_core::memory::aligned_vec {
namespace {

using support::testing::panic_message;

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

TEST(AlignedVec, ReusedMemoryComesBackZeroed) {
  // A released block is kept by the thread; the next buffer that fits reuses it and
  // must still read as all zeros, whatever the previous owner wrote.
  const void* first = nullptr;
  {
    auto v = AlignedVec<double>::zeros_in(5000);
    for (double& x : v.as_slice()) x = std::numeric_limits<double>::quiet_NaN();
    first = v.data();
  }
  const auto smaller = AlignedVec<float>::zeros_in(7000);  // 28000 of the 40000 bytes
  EXPECT_EQ(static_cast<const void*>(smaller.data()), first);
  EXPECT_TRUE(is_line_aligned(smaller.data()));
  for (const float x : smaller.as_slice()) ASSERT_EQ(std::bit_cast<std::uint32_t>(x), 0u);
}

TEST(AlignedVec, BuffersAliveTogetherNeverShareMemory) {
  // Rounds of allocations, the first two released, so that later ones reuse kept blocks;
  // each live buffer holds its own index, which a shared block would overwrite. Every
  // element is written, so under AddressSanitizer a buffer cut short is caught too. Every
  // other buffer skips the clearing, which must not change where it lies.
  std::vector<AlignedVec<double>> alive;
  for (int round = 0; round < 3; ++round) {
    alive.clear();
    for (std::size_t n : {100u, 3000u, 100u, 70000u, 600000u, 20u, 3000u}) {
      const bool cleared = alive.size() % 2 == 0;
      alive.push_back(cleared ? AlignedVec<double>::zeros_in(n) : AlignedVec<double>::for_overwrite(n));
      EXPECT_TRUE(is_line_aligned(alive.back().data()));
      for (double& x : alive.back().as_slice()) x = static_cast<double>(alive.size());
    }
    for (std::size_t index = 0; index < alive.size(); ++index) {
      for (const double x : alive[index].as_slice()) ASSERT_EQ(x, index + 1.0);
    }
  }
}

TEST(AlignedVec, ThreadsKeepTheirOwnBlocks) {
  // Each thread reuses only what it released and frees it when it ends (a leak checker
  // run sees nothing left behind).
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int round = 0; round < 50; ++round) {
        auto v = AlignedVec<double>::zeros_in(1000 + 100 * t);
        for (double& x : v.as_slice()) {
          ASSERT_EQ(x, 0.0);
          x = t + 1.0;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
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
  EXPECT_EQ(panic_message([] { AlignedVec<double>::zeros_in(std::numeric_limits<std::size_t>::max()); }), invalid);
}

struct StrideCase {
  std::size_t rows;
  std::size_t f64_stride;
  std::size_t f32_stride;
};

TEST(PaddedStride, RoundsUpToWholeLines) {
  for (const StrideCase& c : {StrideCase{0, 0, 0}, StrideCase{1, 8, 16}, StrideCase{8, 8, 16}, StrideCase{9, 16, 16},
                              StrideCase{16, 16, 16}, StrideCase{17, 24, 32}, StrideCase{33, 40, 48}}) {
    SCOPED_TRACE(c.rows);
    EXPECT_EQ(padded_stride<double>(c.rows), c.f64_stride);
    EXPECT_EQ(padded_stride<float>(c.rows), c.f32_stride);
  }
  EXPECT_EQ(panic_message([] { padded_stride<double>(std::numeric_limits<std::size_t>::max()); }),
            "Invalid layout: LayoutError");
}

}  // namespace
}  // namespace pellum_core::memory::aligned_vec

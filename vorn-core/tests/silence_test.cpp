#include "vorn_core/silence.hpp"

#include <cstdio>
#include <latch>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace {

using vorn_core::silence::SilenceStdout;
using namespace vorn_core::testing;

TEST(SilenceStdout, DiscardsOnlyWhileAGuardLives) {
  CapturedStdout captured;
  const auto descriptors = open_descriptors();
  std::printf("before;");  // still buffered when the guard is made: flushed to the file
  {
    const auto guard = SilenceStdout::make();
    ASSERT_TRUE(guard);
    EXPECT_TRUE(stdout_is_null_device());
    std::printf("buffered while silenced;");
    say("written while silenced;");
  }
  EXPECT_FALSE(stdout_is_null_device());
  EXPECT_EQ(open_descriptors(), descriptors);  // the saved descriptor is closed again
  say("after;");
  EXPECT_EQ(captured.text(), "before;after;");
}

TEST(SilenceStdout, NoGuardWhenDescriptorOneIsClosed) {
  CapturedStdout captured;
  const int kept = ::dup(1);
  ::close(1);
  EXPECT_FALSE(SilenceStdout::make());
  ::dup2(kept, 1);
  ::close(kept);
  say("restored;");
  EXPECT_EQ(captured.text(), "restored;");
}

TEST(SilenceStdout, OverlappingGuardsEndingInCreationOrderRestore) {
  // The first guard ends while the second still lives: output stays silenced until the
  // last one ends, then reaches the former destination again.
  CapturedStdout captured;
  std::latch first_made(1);
  std::latch second_made(1);
  std::latch first_ended(1);
  std::thread first([&] {
    const auto guard = SilenceStdout::make();
    first_made.count_down();
    second_made.wait();
  });
  std::thread second([&] {
    first_made.wait();
    EXPECT_TRUE(stdout_is_null_device());
    const auto guard = SilenceStdout::make();
    second_made.count_down();
    first_ended.wait();
    say("second still silenced;");
  });
  first.join();
  EXPECT_TRUE(stdout_is_null_device());
  first_ended.count_down();
  second.join();
  say("after both;");
  EXPECT_EQ(captured.text(), "after both;");
}

}  // namespace

#include "vorn_core/silence.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

using vorn_core::silence::SilenceStdout;

// Points descriptor 1 at a temporary file while it lives and reads back what reached it.
class CapturedStdout {
 public:
  CapturedStdout() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    std::FILE* file = std::tmpfile();
    file_ = ::dup(::fileno(file));
    std::fclose(file);
    ::dup2(file_, 1);
  }
  ~CapturedStdout() {
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
    ::close(file_);
  }

  std::string text() const {
    std::fflush(stdout);
    std::string out;
    char buffer[256];
    for (off_t at = 0;;) {
      const ssize_t got = ::pread(file_, buffer, sizeof buffer, at);
      if (got <= 0) return out;
      out.append(buffer, static_cast<std::size_t>(got));
      at += got;
    }
  }

 private:
  int saved_ = -1;
  int file_ = -1;
};

void say(const std::string& text) { (void)!::write(1, text.data(), text.size()); }

bool stdout_is_null_device() {
  struct stat out{};
  struct stat null{};
  return ::fstat(1, &out) == 0 && ::stat("/dev/null", &null) == 0 && out.st_rdev == null.st_rdev &&
         S_ISCHR(out.st_mode);
}

TEST(SilenceStdout, DiscardsOnlyWhileAGuardLives) {
  CapturedStdout captured;
  std::printf("before;");  // still buffered when the guard is made: flushed to the file
  {
    const auto guard = SilenceStdout::make();
    ASSERT_TRUE(guard);
    EXPECT_TRUE(stdout_is_null_device());
    std::printf("buffered while silenced;");
    say("written while silenced;");
  }
  EXPECT_FALSE(stdout_is_null_device());
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
  std::latch second_made(1);
  std::latch first_ended(1);
  std::thread first([&] {
    const auto guard = SilenceStdout::make();
    second_made.wait();
  });
  std::thread second([&] {
    while (!stdout_is_null_device()) std::this_thread::yield();  // the first guard lives
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

TEST(SilenceStdout, ManyThreadsLeaveStdoutRestored) {
  CapturedStdout captured;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) {
        const auto guard = SilenceStdout::make();
        if (guard) say("silenced " + std::to_string(t) + ";");
        if ((i + t) % 3 == 0) std::this_thread::yield();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(stdout_is_null_device());
  say("end;");
  EXPECT_EQ(captured.text(), "end;");
}

}  // namespace

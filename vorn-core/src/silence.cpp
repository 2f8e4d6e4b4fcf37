#include "vorn_core/silence.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <utility>

namespace vorn_core::silence {

namespace {

// The redirection shared by every live guard.
struct Redirection {
  std::mutex mutex;
  std::size_t guards = 0;
  int saved_fd = -1;  // the former descriptor 1, owned while guards > 0
};

Redirection& redirection() {
  static Redirection state;
  return state;
}

// A duplicate of descriptor 1 after pointing descriptor 1 at the null device; -1 and
// nothing changed when a step fails.
int redirect_to_null() {
  const int saved = ::dup(1);
  if (saved < 0) return -1;
  const int null = ::open("/dev/null", O_WRONLY);
  if (null < 0) {
    ::close(saved);
    return -1;
  }
  const int result = ::dup2(null, 1);
  ::close(null);
  if (result < 0) {
    ::close(saved);
    return -1;
  }
  return saved;
}

}  // namespace

std::optional<SilenceStdout> SilenceStdout::make() {
  Redirection& state = redirection();
  std::lock_guard lock(state.mutex);
  if (state.guards == 0) {
    std::fflush(stdout);
    const int saved = redirect_to_null();
    if (saved < 0) return std::nullopt;
    state.saved_fd = saved;
  }
  ++state.guards;
  return SilenceStdout();
}

SilenceStdout::SilenceStdout(SilenceStdout&& other) noexcept : engaged_(std::exchange(other.engaged_, false)) {}

SilenceStdout::~SilenceStdout() {
  if (!engaged_) return;
  Redirection& state = redirection();
  std::lock_guard lock(state.mutex);
  std::fflush(stdout);
  if (--state.guards > 0) return;
  ::dup2(state.saved_fd, 1);
  ::close(state.saved_fd);
  state.saved_fd = -1;
}

}  // namespace vorn_core::silence

#include "vorn_core/silence.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <type_traits>
#include <utility>

namespace vorn_core::silence {

namespace {

// The redirection shared by every live guard. Constant-initialised and never destroyed: a
// fork or a thread still fitting at exit may reach it at any moment of the process's life.
struct Redirection {
  std::mutex mutex;
  std::size_t guards = 0;
  int saved_fd = -1;  // the former descriptor 1, owned while guards > 0
};
static_assert(std::is_trivially_destructible_v<Redirection>);

constinit Redirection redirection;

// A fork holds the lock, so the child never inherits it from a thread it does not have.
void lock_for_fork() { redirection.mutex.lock(); }

void unlock_in_parent() { redirection.mutex.unlock(); }

// The child starts with no fit running: the guards it inherits belong to threads it does
// not have, so it takes its standard output back and counts from zero.
void start_afresh_in_child() {
  if (redirection.guards > 0) {
    ::dup2(redirection.saved_fd, 1);
    ::close(redirection.saved_fd);
  }
  redirection.guards = 0;
  redirection.saved_fd = -1;
  redirection.mutex.unlock();
}

// Registered at load, before any thread can fit or fork.
[[maybe_unused]] const int fork_handlers = ::pthread_atfork(lock_for_fork, unlock_in_parent, start_afresh_in_child);

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
  std::lock_guard lock(redirection.mutex);
  if (redirection.guards == 0) {
    std::fflush(stdout);
    const int saved = redirect_to_null();
    if (saved < 0) return std::nullopt;
    redirection.saved_fd = saved;
  }
  ++redirection.guards;
  return SilenceStdout();
}

SilenceStdout::SilenceStdout(SilenceStdout&& other) noexcept : engaged_(std::exchange(other.engaged_, false)) {}

SilenceStdout::~SilenceStdout() {
  if (!engaged_) return;
  std::lock_guard lock(redirection.mutex);
  std::fflush(stdout);
  if (--redirection.guards > 0) return;
  ::dup2(redirection.saved_fd, 1);
  ::close(redirection.saved_fd);
  redirection.saved_fd = -1;
}

}  // namespace vorn_core::silence

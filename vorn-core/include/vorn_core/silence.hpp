#pragma once
// Silencing of standard output while constants are fitted: descriptor 1 points at the
// null device while at least one guard lives, for every thread of the process.
//
// Guards are counted process-wide under a mutex, so fits that overlap in several threads
// may end in any order: the first guard redirects descriptor 1, the last one restores the
// destination it had before. Standard error is never touched.
//
// A child forked while guards live starts with none: descriptor 1 back on that destination,
// a zero count, the lock free; the parent's guards go on as before. The forking thread must
// hold no guard itself (fits never fork), since the child has no count left to end it in.
#include <optional>

namespace vorn_core::silence {

class SilenceStdout {
 public:
  // Flushes the C standard-output stream, then silences. None when the first guard
  // cannot be set up (dup, open or dup2 failing); then nothing has changed.
  static std::optional<SilenceStdout> make();

  SilenceStdout(SilenceStdout&& other) noexcept;
  SilenceStdout& operator=(SilenceStdout&&) = delete;
  SilenceStdout(const SilenceStdout&) = delete;
  SilenceStdout& operator=(const SilenceStdout&) = delete;
  // Flushes what was written while silenced (to the null device); the last guard then
  // restores descriptor 1. Failures while restoring are not reported.
  ~SilenceStdout();

 private:
  SilenceStdout() = default;

  bool engaged_ = true;  // false once moved from
};

}  // namespace vorn_core::silence

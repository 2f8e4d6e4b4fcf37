// Cost of finding the distinct tree shapes a fit starts from: the first 512 survivors of
// de-duplication, streamed, against de-duplicating the full enumeration.
#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <cstdio>

#include "tarvex/symreg/topology.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long peak_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void streamed(std::size_t vars) {
  const auto start = Clock::now();
  const auto kept = tarvex::symreg::topology::distinct_topologies(3, vars, 512);
  std::printf("streamed: depth 3, %2zu columns, first %zu survivors: %8.3f ms, peak RSS %ld KiB\n",
              vars, kept.size(), 1e3 * seconds_since(start), peak_rss_kib());
}

void full(std::size_t vars) {
  const auto start = Clock::now();
  const auto all = tarvex::symreg::topology::enumerate_topologies(3, vars);
  const auto kept = tarvex::symreg::topology::dedupe_by_semantics(all);
  const double elapsed = seconds_since(start);
  std::printf("full:     depth 3, %2zu columns, %zu -> %zu trees: %8.3f ms (%.2f us per tree), "
              "peak RSS %ld KiB\n",
              vars, all.size(), kept.size(), 1e3 * elapsed, 1e6 * elapsed / all.size(),
              peak_rss_kib());
}

}  // namespace

int main() {
  // Streamed runs first, so that their peak memory is not hidden by the full lists.
  for (std::size_t vars : {1, 3, 5, 10, 50}) streamed(vars);
  for (std::size_t vars : {1, 2, 3}) full(vars);
}

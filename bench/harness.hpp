#pragma once
// The benchmarks' one timer and their one way of reporting. Absolute times depend on the
// machine and its load; a ratio to a baseline timed in the same process much less, so
// every figure is printed both as a time per unit and as a multiple of the baseline.
//
//   bench::Report report("lowering every tree of depth <= 3", "input node");
//   report.add("walking the trees (baseline)", bench::seconds_per_call([&] { walk(); }), nodes);
//   report.add("lowering", bench::seconds_per_call([&] { lower_all(); }), nodes);
//
// Where the work per call is what people compare, a report also prints its rate:
//
//   bench::Report report("dgemm n=512", "product", "flop");
//   report.add("ours", bench::seconds_per_call([&] { multiply(); }), 1, 2.0 * 512 * 512 * 512);
//
// and a figure may be compared with any earlier one, not only the baseline:
//
//   report.speed_ratio("ours", "OpenBLAS");  // prints ours' speed ÷ OpenBLAS' speed
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/number_text.hpp"

namespace bench {

// Seconds per call of body: the fastest of five trials (scheduling noise only ever adds
// time), each calling body as often as it takes to last at least 50 ms.
template <typename Body>
double seconds_per_call(Body&& body) {
  using Clock = std::chrono::steady_clock;
  constexpr double trial_seconds = 0.05;
  double best = std::numeric_limits<double>::infinity();
  for (int trial = 0; trial < 5; ++trial) {
    const Clock::time_point start = Clock::now();
    double elapsed = 0.0;
    long calls = 0;
    do {
      body();
      ++calls;
      elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < trial_seconds);
    best = std::min(best, elapsed / static_cast<double>(calls));
  }
  return best;
}

// What one call of body cost: wall-clock seconds, and the calling thread's system seconds
// and minor page faults as the kernel counts them. For calls too long to repeat.
struct CallCost {
  double seconds = 0.0;
  double system_seconds = 0.0;
  long minor_faults = 0;
};

template <typename Body>
CallCost cost_of_call(Body&& body) {
  using Clock = std::chrono::steady_clock;
  rusage before{};
  rusage after{};
  getrusage(RUSAGE_THREAD, &before);
  const Clock::time_point start = Clock::now();
  body();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  getrusage(RUSAGE_THREAD, &after);
  const auto system_seconds = [](const rusage& usage) {
    return static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) * 1e-6;
  };
  return {seconds, system_seconds(after) - system_seconds(before), after.ru_minflt - before.ru_minflt};
}

// The value rounded to the decimals, as text.
inline std::string rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return support::shortest(std::round(value * scale) / scale);
}

// The text right-aligned in a field of the width.
inline std::string padded(std::string text, std::size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// Makes a result observable, so that the work producing it is not optimised away.
template <typename T>
void keep(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

// One table of figures, printed as they are added: a title line, then per figure its
// label, nanoseconds per unit and the ratio to the first figure, the baseline; and, in a
// report that names a unit of work, the work done per second.
class Report {
 public:
  // unit names what a figure's count counts ("node" prints as "ns per node"); work, if
  // not empty, what its work counts ("flop" prints as "Gflop/s").
  Report(std::string_view title, std::string_view unit, std::string_view work = {}) : unit_(unit), work_(work) {
    print(std::string(title) + "\n");
  }

  // seconds: per call; count: units per call; work: units of work per call.
  void add(std::string_view label, double seconds, double count = 1.0, double work = 0.0) {
    const double per_unit = seconds / count;
    if (baseline_ == 0.0) baseline_ = per_unit;
    std::string line = "  " + std::string(label);
    line.resize(std::max<std::size_t>(line.size() + 1, 46), ' ');
    line += padded(rounded(per_unit * 1e9, 1), 12) + " ns per " + unit_;
    line += "  " + padded(rounded(per_unit / baseline_, 2), 9) + " x baseline";
    if (!work_.empty()) line += "  " + padded(rounded(work / seconds * 1e-9, 2), 9) + " G" + work_ + "/s";
    print(line + "\n");
    figures_.emplace_back(label, per_unit);
  }

  // Prints how many times as fast the figure `label` ran as the figure `than`, both added
  // before; a missing one prints nothing.
  void speed_ratio(std::string_view label, std::string_view than) {
    const double* faster = time_of(label);
    const double* slower = time_of(than);
    if (faster == nullptr || slower == nullptr) return;
    std::string line = "  speed " + std::string(label) + " / " + std::string(than);
    line.resize(std::max<std::size_t>(line.size() + 1, 46), ' ');
    print(line + padded(rounded(*slower / *faster, 2), 12) + "\n");
  }

 private:
  const double* time_of(std::string_view label) const {
    for (const auto& [name, per_unit] : figures_) {
      if (name == label) return &per_unit;
    }
    return nullptr;
  }
  static void print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }

  std::string unit_;
  std::string work_;
  double baseline_ = 0.0;
  std::vector<std::pair<std::string, double>> figures_;  // label, seconds per unit
};

}  // namespace bench

// Cost of finding the distinct tree shapes a fit starts from: the first 512 survivors of
// de-duplication, streamed, against keying 512 shapes with nothing dropped; and
// de-duplicating the full enumeration against enumerating it.
#include <sys/resource.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.hpp"
#include "tarvex/symreg/topology.hpp"

namespace {

namespace topology = tarvex::symreg::topology;

void print_peak_rss(const char* after) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::fputs(("  peak RSS after " + std::string(after) + ": " + std::to_string(usage.ru_maxrss) + " KiB\n").c_str(),
             stdout);
}

void streamed() {
  bench::Report report("the first 512 distinct shapes of depth <= 3, streamed", "shape kept");
  const std::vector<topology::EmlTree> first = [] {
    std::vector<topology::EmlTree> all = topology::enumerate_topologies(3, 1);
    all.resize(512);
    return all;
  }();
  report.add("keying 512 shapes of one column (baseline)", bench::seconds_per_call([&] {
               for (const auto& tree : first) bench::keep(topology::semantic_key(tree));
             }),
             512);
  for (std::size_t vars : {1, 3, 5, 10, 50}) {
    report.add(std::to_string(vars) + " columns",
               bench::seconds_per_call([&] { bench::keep(topology::distinct_topologies(3, vars, 512).size()); }), 512);
  }
  // Before the full lists, so that their peak memory does not hide this one.
  print_peak_rss("streaming");
}

void full() {
  bench::Report report("de-duplicating every shape of depth <= 3", "shape");
  const auto three_columns = static_cast<double>(topology::enumerate_topologies(3, 3).size());
  report.add("enumerating three columns (baseline)",
             bench::seconds_per_call([] { bench::keep(topology::enumerate_topologies(3, 3).size()); }), three_columns);
  for (std::size_t vars : {1, 2, 3}) {
    const auto shapes = static_cast<double>(topology::enumerate_topologies(3, vars).size());
    report.add(std::to_string(vars) + " columns", bench::seconds_per_call([vars] {
                 bench::keep(topology::dedupe_by_semantics(topology::enumerate_topologies(3, vars)).size());
               }),
               shapes);
  }
  print_peak_rss("the full lists");
}

}  // namespace

int main() {
  streamed();
  full();
}

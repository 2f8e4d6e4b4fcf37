// This file must not reference anything of the load-time initialiser's source: the
// registry being full proves that the initialiser survived static linking.
#include "ketra_core/apiversioning.hpp"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ketra_core/api_freeze.hpp"
#include "support/panic.hpp"

namespace {

using ketra_core::apiversioning::global_registry_mut;
using ketra_core::apiversioning::Version;
using ketra_core::apiversioning::VersionRegistry;

constexpr Version v100{1, 0, 0};

// (module, number of names) in registration order.
const std::vector<std::pair<std::string, std::size_t>> module_runs = {
    {"error", 6},     {"validation", 5}, {"numeric", 4},    {"array_protocol", 5}, {"simd_ops", 3},
    {"parallel_ops", 7}, {"gpu", 4},     {"array", 5},      {"config", 4},         {"constants", 4},
    {"io", 2},        {"resource", 4},   {"units", 4},      {"versioning", 3},     {"metrics", 4},
    {"safe_ops", 8},  {"random", 6},     {"ndarray_ext", 7},
};

std::size_t entry_count() { return global_registry_mut()->entries().size(); }

TEST(LoadTimeRegistry, HoldsTheFrozenNamesInOrder) {
  const auto registry = global_registry_mut();
  const auto& entries = registry->entries();
  ASSERT_EQ(entries.size(), 85u);
  std::size_t at = 0;
  for (const auto& [module, count] : module_runs) {
    for (std::size_t k = 0; k < count; ++k, ++at) {
      SCOPED_TRACE(entries[at].name);
      EXPECT_EQ(entries[at].module, module);
      EXPECT_EQ(entries[at].since, v100);
    }
  }
  EXPECT_EQ(at, entries.size());
  const std::vector<std::pair<std::size_t, std::string>> samples = {
      {0, "CoreError"},     {5, "PreciseError"},  {6, "check_finite"}, {34, "MaskedArray"},
      {43, "math::PI"},     {46, "physical::G"},  {71, "safe_exp"},    {72, "RandomGenerator"},
      {84, "broadcast_to"},
  };
  for (const auto& [index, name] : samples) EXPECT_EQ(entries[index].name, name) << index;
  std::set<std::string> distinct;
  for (const auto& entry : entries) distinct.insert(entry.name);
  EXPECT_EQ(distinct.size(), 85u);
}

TEST(LoadTimeRegistry, RunningTheFillAgainAddsNothing) {
  ASSERT_EQ(entry_count(), 85u);  // filled at load, not by this call
  ketra_core::api_freeze::api_freeze_impl::init();
  EXPECT_EQ(entry_count(), 85u);
}

TEST(VersionRegistry, DeduplicatesOnNameAndModule) {
  VersionRegistry registry;
  registry.register_api("Timer", "metrics", v100)
      .register_api("Timer", "metrics", Version{2, 1, 0})
      .register_api("Timer", "clock", Version{3, 0, 0})
      .register_api("Time", "metrics", Version{4, 0, 0});
  const auto& entries = registry.entries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "Timer");
  EXPECT_EQ(entries[0].module, "metrics");
  EXPECT_EQ(entries[0].since, v100);  // the first registration's version stays
  EXPECT_EQ(entries[1].module, "clock");
  EXPECT_EQ(entries[1].since, (Version{3, 0, 0}));
  EXPECT_EQ(entries[2].name, "Time");
}

TEST(VersionRegistryDeathTest, LockLeftByAnExceptionIsPoisoned) {
  EXPECT_DEATH(
      {
        try {
          auto guard = global_registry_mut();
          throw 1;
        } catch (int) {
        }
        try {
          global_registry_mut();
        } catch (const support::Panic& panic) {
          std::fputs(panic.what(), stderr);
        }
        std::abort();
      },
      "Operation failed: poisoned lock: another task failed inside");
}

}  // namespace

// This file must not reference anything of the load-time initialiser's source: the
// registry being full proves that the initialiser survived static linking.
#include "ketra_core/apiversioning.hpp"

#include <cstdio>
#include <cstdlib>
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

// Every module's names in registration order, transcribed apart from the library's table.
const std::vector<std::pair<std::string, std::vector<std::string>>> frozen = {
    {"error", {"CoreError", "CoreResult", "ErrorContext", "ErrorKind", "ErrorContextWithDetails", "PreciseError"}},
    {"validation", {"check_finite", "check_array_finite", "check_positive", "checkshape", "check_in_bounds"}},
    {"numeric", {"NumericOps", "Complex", "Precision", "StableAlgorithms"}},
    {"array_protocol", {"ArrayProtocol", "ArrayLike", "IntoArray", "ArrayView", "ArrayViewMut"}},
    {"simd_ops", {"SimdOps", "SimdUnifiedOps", "PlatformCapabilities"}},
    {"parallel_ops",
     {"par_chunks", "par_chunks_mut", "par_range", "par_join", "par_scope", "num_threads", "is_parallel_enabled"}},
    {"gpu", {"GpuContext", "GpuBuffer", "GpuBackend", "GpuCompute"}},
    {"array", {"MaskedArray", "RecordArray", "masked_where", "masked_invalid", "record_array_from_arrays"}},
    {"config", {"Config", "ConfigValue", "get_config", "set_config_value"}},
    {"constants", {"math::PI", "math::E", "physical::C", "physical::G"}},
    {"io", {"read_file", "write_file"}},
    {"resource", {"SystemResources", "get_system_resources", "get_available_memory", "is_gpu_available"}},
    {"units", {"UnitValue", "UnitRegistry", "unit_value", "convert"}},
    {"versioning", {"Version", "ApiVersion", "CompatibilityLevel"}},
    {"metrics", {"Counter", "Gauge", "Histogram", "Timer"}},
    {"safe_ops", {"safe_add", "safe_sub", "safe_mul", "safe_div", "safe_pow", "safe_sqrt", "safelog", "safe_exp"}},
    {"random",
     {"RandomGenerator", "SeedableRng", "random_array", "random_normal", "random_uniform", "set_random_seed"}},
    {"ndarray_ext", {"arange", "linspace", "meshgrid", "concatenate", "stack", "split", "broadcast_to"}},
};

std::size_t entry_count() { return global_registry_mut()->entries().size(); }

TEST(LoadTimeRegistry, HoldsTheFrozenNamesInOrder) {
  const auto registry = global_registry_mut();
  const auto& entries = registry->entries();
  ASSERT_EQ(entries.size(), 85u);
  std::size_t at = 0;
  for (const auto& [module, names] : frozen) {
    for (const std::string& name : names) {
      ASSERT_LT(at, entries.size());
      EXPECT_EQ(entries[at].name, name) << at;
      EXPECT_EQ(entries[at].module, module) << at;
      EXPECT_EQ(entries[at].since, v100) << at;
      ++at;
    }
  }
  EXPECT_EQ(at, entries.size());
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

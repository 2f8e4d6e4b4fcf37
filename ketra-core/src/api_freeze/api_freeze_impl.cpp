#include <array>
#include <mutex>
#include <string_view>

#include "ketra_core/api_freeze.hpp"
#include "ketra_core/apiversioning.hpp"

namespace ketra_core::api_freeze::api_freeze_impl {

namespace {

// A module's names; unused places stay empty.
struct ModuleNames {
  std::string_view module;
  std::array<std::string_view, 8> names;
};

// Modules in registration order, names in each module's order.
constexpr std::array<ModuleNames, 18> frozen_api{{
    {"error", {{"CoreError", "CoreResult", "ErrorContext", "ErrorKind", "ErrorContextWithDetails", "PreciseError"}}},
    {"validation", {{"check_finite", "check_array_finite", "check_positive", "checkshape", "check_in_bounds"}}},
    {"numeric", {{"NumericOps", "Complex", "Precision", "StableAlgorithms"}}},
    {"array_protocol", {{"ArrayProtocol", "ArrayLike", "IntoArray", "ArrayView", "ArrayViewMut"}}},
    {"simd_ops", {{"SimdOps", "SimdUnifiedOps", "PlatformCapabilities"}}},
    {"parallel_ops",
     {{"par_chunks", "par_chunks_mut", "par_range", "par_join", "par_scope", "num_threads", "is_parallel_enabled"}}},
    {"gpu", {{"GpuContext", "GpuBuffer", "GpuBackend", "GpuCompute"}}},
    {"array", {{"MaskedArray", "RecordArray", "masked_where", "masked_invalid", "record_array_from_arrays"}}},
    {"config", {{"Config", "ConfigValue", "get_config", "set_config_value"}}},
    {"constants", {{"math::PI", "math::E", "physical::C", "physical::G"}}},
    {"io", {{"read_file", "write_file"}}},
    {"resource", {{"SystemResources", "get_system_resources", "get_available_memory", "is_gpu_available"}}},
    {"units", {{"UnitValue", "UnitRegistry", "unit_value", "convert"}}},
    {"versioning", {{"Version", "ApiVersion", "CompatibilityLevel"}}},
    {"metrics", {{"Counter", "Gauge", "Histogram", "Timer"}}},
    {"safe_ops", {{"safe_add", "safe_sub", "safe_mul", "safe_div", "safe_pow", "safe_sqrt", "safelog", "safe_exp"}}},
    {"random",
     {{"RandomGenerator", "SeedableRng", "random_array", "random_normal", "random_uniform", "set_random_seed"}}},
    {"ndarray_ext", {{"arange", "linspace", "meshgrid", "concatenate", "stack", "split", "broadcast_to"}}},
}};

constexpr std::size_t total_names() {
  std::size_t n = 0;
  for (std::size_t m = 0; m < frozen_api.size(); ++m) {
    for (std::size_t k = 0; k < frozen_api[m].names.size(); ++k) n += frozen_api[m].names[k].empty() ? 0 : 1;
  }
  return n;
}
static_assert(total_names() == registered_api_count);

constexpr apiversioning::Version frozen_version{1, 0, 0};

void register_all() {
  auto registry = apiversioning::global_registry_mut();
  for (const ModuleNames& m : frozen_api) {
    for (std::string_view name : m.names) {
      if (!name.empty()) registry->register_api(name, m.module, frozen_version);
    }
  }
}

std::once_flag registered;

}  // namespace

void init() { std::call_once(registered, register_all); }

}  // namespace ketra_core::api_freeze::api_freeze_impl

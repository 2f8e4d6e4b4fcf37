#include "ketra_core/apiversioning.hpp"

#include <exception>

#include "support/panic.hpp"

namespace ketra_core::apiversioning {

VersionRegistry& VersionRegistry::register_api(std::string_view name, std::string_view module, Version since) {
  for (const ApiEntry& entry : entries_) {
    if (entry.name == name && entry.module == module) return *this;
  }
  entries_.push_back(ApiEntry{std::string(name), std::string(module), since});
  return *this;
}

RegistryGuard::RegistryGuard(std::unique_lock<std::mutex> lock, VersionRegistry& registry, bool& poisoned)
    : lock_(std::move(lock)),
      registry_(&registry),
      poisoned_(&poisoned),
      unwinding_on_entry_(std::uncaught_exceptions()) {}

RegistryGuard::~RegistryGuard() {
  if (std::uncaught_exceptions() > unwinding_on_entry_) *poisoned_ = true;
}

namespace {

struct GlobalRegistry {
  std::mutex mutex;
  VersionRegistry registry;
  bool poisoned = false;  // guarded by mutex
};

// Never destroyed: the registry lives until the process ends.
GlobalRegistry& global() {
  static GlobalRegistry* const instance = new GlobalRegistry();
  return *instance;
}

}  // namespace

RegistryGuard global_registry_mut() {
  GlobalRegistry& g = global();
  std::unique_lock<std::mutex> lock(g.mutex);
  if (g.poisoned) support::panic("Operation failed: poisoned lock: another task failed inside");
  return RegistryGuard(std::move(lock), g.registry, g.poisoned);
}

}  // namespace ketra_core::apiversioning

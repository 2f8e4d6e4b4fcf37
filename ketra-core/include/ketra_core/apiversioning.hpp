#pragma once
// The process-wide registry of the library family's public names, each with its module
// and the version since which it exists. It is filled once while the library file loads
// (see api_freeze.hpp); nothing in the system reads it afterwards.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ketra_core::apiversioning {

struct Version {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  friend bool operator==(const Version&, const Version&) = default;
};

struct ApiEntry {
  std::string name;    // e.g. "CoreError", "math::PI"
  std::string module;  // e.g. "error"
  Version since;
};

class VersionRegistry {
 public:
  // Adds an entry unless one with this name and module exists (its version then stays);
  // the same name under another module is a new entry. Returns the registry for chaining.
  VersionRegistry& register_api(std::string_view name, std::string_view module, Version since);
  // In registration order.
  const std::vector<ApiEntry>& entries() const noexcept { return entries_; }

 private:
  std::vector<ApiEntry> entries_;
};

// Exclusive access to the global registry for as long as it lives. Destroyed while an
// exception unwinds, it marks the registry poisoned.
class RegistryGuard {
 public:
  RegistryGuard(const RegistryGuard&) = delete;
  RegistryGuard& operator=(const RegistryGuard&) = delete;
  ~RegistryGuard();

  VersionRegistry& operator*() const noexcept { return *registry_; }
  VersionRegistry* operator->() const noexcept { return registry_; }

 private:
  friend RegistryGuard global_registry_mut();
  RegistryGuard(std::unique_lock<std::mutex> lock, VersionRegistry& registry, bool& poisoned);

  std::unique_lock<std::mutex> lock_;
  VersionRegistry* registry_;
  bool* poisoned_;
  int unwinding_on_entry_;
};

// Locks the global registry (created empty on first use), waiting for another holder.
// Panics with "Operation failed: poisoned lock: another task failed inside" when an
// earlier holder was left by an exception.
RegistryGuard global_registry_mut();

}  // namespace ketra_core::apiversioning

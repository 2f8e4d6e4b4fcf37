#pragma once
// The variable environment: named trainable arrays that outlive the graphs built on them.
// Graphs reach an array through a variable node carrying its VariableID.
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ketra_autograd/detail/borrowed_name.hpp"
#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/variable_id.hpp"

namespace ketra_autograd::variable {

// The key of a named variable; the default namespace is the empty string.
struct FullName {
  FullName(std::string_view ns, std::string name) : namespace_(ns), name(std::move(name)) {}

  std::string namespace_;
  std::string name;

  friend bool operator==(const FullName&, const FullName&) = default;
};

// A fixed hash (no per-process seed), so the map's order is the same in every process.
struct FullNameHash {
  std::size_t operator()(const FullName& key) const noexcept;
};

class VariableEnvironment;

// Namespace views and slots keep a view of the namespace's name, so it must outlive them:
// the overloads that would take a temporary string are deleted.

// A read-only view of one namespace.
class VariableNamespace {
 public:
  VariableNamespace(const VariableEnvironment& env, std::string_view name) noexcept : env_(&env), name_(name) {}
  template <ketra_autograd::detail::TemporaryString S>
  VariableNamespace(const VariableEnvironment& env, S&& name) = delete;

  std::string_view name() const noexcept { return name_; }
  std::optional<VariableID> find(const std::string& name) const;
  // The ids of the namespace's variables in the name map's own order (neither creation
  // order nor sorted, but the same in every run); build the list once and reuse it.
  std::vector<VariableID> variable_ids() const;

 private:
  const VariableEnvironment* env_;
  std::string_view name_;
};

// A variable about to be created in a namespace.
class NamedVariableSlot {
 public:
  NamedVariableSlot(std::string name, VariableEnvironment& env, std::string_view ns) noexcept
      : name_(std::move(name)), env_(&env), namespace_(ns) {}
  template <ketra_autograd::detail::TemporaryString S>
  NamedVariableSlot(std::string name, VariableEnvironment& env, S&& ns) = delete;
  void set(ArrayD array) &&;

 private:
  std::string name_;
  VariableEnvironment* env_;
  std::string_view namespace_;
};

// A variable about to be created in the default namespace.
class NamedDefaultVariableSlot {
 public:
  NamedDefaultVariableSlot(std::string name, VariableEnvironment& env) noexcept : name_(std::move(name)), env_(&env) {}
  VariableID set(ArrayD array) &&;

 private:
  std::string name_;
  VariableEnvironment* env_;
};

// A view of one namespace through which variables are created.
class VariableNamespaceMut {
 public:
  VariableNamespaceMut(VariableEnvironment& env, std::string_view name) noexcept : env_(&env), name_(name) {}
  template <ketra_autograd::detail::TemporaryString S>
  VariableNamespaceMut(VariableEnvironment& env, S&& name) = delete;

  NamedVariableSlot slot(std::string name) const { return NamedVariableSlot(std::move(name), *env_, name_); }
  operator VariableNamespace() const noexcept { return VariableNamespace(*env_, name_); }

 private:
  VariableEnvironment* env_;
  std::string_view name_;
};

class VariableEnvironment {
 public:
  VariableEnvironment() = default;
  VariableEnvironment(const VariableEnvironment&) = delete;
  VariableEnvironment& operator=(const VariableEnvironment&) = delete;

  // A variable to create in the default namespace.
  NamedDefaultVariableSlot slot(std::string name) { return NamedDefaultVariableSlot(std::move(name), *this); }
  VariableNamespace namespace_(std::string_view name) const noexcept { return VariableNamespace(*this, name); }
  VariableNamespaceMut namespace_mut(std::string_view name) noexcept { return VariableNamespaceMut(*this, name); }
  template <ketra_autograd::detail::TemporaryString S>
  VariableNamespace namespace_(S&& name) const = delete;
  template <ketra_autograd::detail::TemporaryString S>
  VariableNamespaceMut namespace_mut(S&& name) = delete;

  // The array of the id; null when the environment has no such variable. Addresses stay
  // fixed while variables are added.
  ArrayD* array_cell(VariableID id) noexcept { return id.value < arrays_.size() ? &arrays_[id.value] : nullptr; }
  const ArrayD* array_cell(VariableID id) const noexcept {
    return id.value < arrays_.size() ? &arrays_[id.value] : nullptr;
  }
  std::size_t num_arrays() const noexcept { return arrays_.size(); }

  // Runs the closure once on a fresh graph bound to this environment. Defined in graph.hpp,
  // beside the context it hands the closure.
  template <typename F>
  auto run(F&& f);

 private:
  friend class VariableNamespace;
  friend class NamedVariableSlot;
  friend class NamedDefaultVariableSlot;

  // Stores the array under the key; a key already present now names the new id.
  VariableID add(FullName key, ArrayD array);

  std::deque<ArrayD> arrays_;
  std::unordered_map<FullName, VariableID, FullNameHash> names_;
};

}  // namespace ketra_autograd::variable

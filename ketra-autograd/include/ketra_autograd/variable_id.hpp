#pragma once
// The id of a variable: the index of its array in the variable environment, handed out
// from 0 in creation order. Kept apart from the environment so that node records can
// name variables without depending on the environment.
#include <cstddef>
#include <functional>
#include <string>

namespace ketra_autograd::variable {

struct VariableID {
  std::size_t value = 0;
  friend bool operator==(VariableID, VariableID) = default;
};

// The plain decimal integer: id 3 reads "3".
inline std::string to_string(VariableID id) { return std::to_string(id.value); }

}  // namespace ketra_autograd::variable

template <>
struct std::hash<ketra_autograd::variable::VariableID> {
  std::size_t operator()(ketra_autograd::variable::VariableID id) const noexcept {
    return std::hash<std::size_t>{}(id.value);
  }
};

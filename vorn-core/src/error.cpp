#include "vorn_core/error.hpp"

namespace vorn_core::error {

namespace {

constexpr std::array<std::string_view, VornError::kind_count> prefixes = {
    "I/O error: ",     "CSV error: ",        "parse error: ",    "shape mismatch: ", "numerical instability: ",
    "not converged: ", "evaluation error: ", "symbolic error: ", "backend error: ",
};

}  // namespace

std::string_view prefix(VornError::Kind kind) noexcept { return prefixes[static_cast<std::size_t>(kind)]; }

std::string VornError::to_string() const {
  std::string out(prefix(kind_));
  out += message_;
  return out;
}

}  // namespace vorn_core::error

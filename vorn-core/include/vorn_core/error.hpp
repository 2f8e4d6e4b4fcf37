#pragma once
// The single error of the discovery engine: one of nine kinds with a message, shown as
// the kind's prefix followed by the message, e.g. "shape mismatch: empty dataset".
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vorn_core::error {

class VornError {
 public:
  // Tag order is fixed; Io, Csv, Parse, Symbolic and Backend are never raised (the engine
  // reads and writes no files) but keep their display.
  enum class Kind : std::uint8_t {
    Io = 0,
    Csv = 1,
    Parse = 2,
    ShapeMismatch = 3,
    NumericalInstability = 4,
    NotConverged = 5,
    Evaluation = 6,
    Symbolic = 7,
    Backend = 8,
  };
  static constexpr std::size_t kind_count = static_cast<std::size_t>(Kind::Backend) + 1;

  // The I/O and CSV payloads are held as their own display text.
  VornError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

  static VornError shape_mismatch(std::string message) { return {Kind::ShapeMismatch, std::move(message)}; }
  static VornError numerical_instability(std::string message) {
    return {Kind::NumericalInstability, std::move(message)};
  }
  static VornError not_converged(std::string message) { return {Kind::NotConverged, std::move(message)}; }
  static VornError evaluation(std::string message) { return {Kind::Evaluation, std::move(message)}; }

  Kind kind() const noexcept { return kind_; }
  const std::string& message() const noexcept { return message_; }
  // The kind's prefix, then the message verbatim.
  std::string to_string() const;

  friend bool operator==(const VornError&, const VornError&) = default;

 private:
  Kind kind_;
  std::string message_;
};

// "I/O error: ", "CSV error: ", "parse error: ", ... in tag order.
std::string_view prefix(VornError::Kind kind) noexcept;

}  // namespace vorn_core::error

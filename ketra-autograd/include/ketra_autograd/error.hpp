#pragma once
// The error an operation's compute reports, and the error of one evaluated tensor. Both
// are shown to users only in their debug text, e.g. RuntimeError("Failed to compute tensor 7").
#include <cstdint>
#include <string>

#include "ketra_autograd/ndarray.hpp"

namespace ketra_autograd::error {

class OpError {
 public:
  enum class Kind : std::uint8_t {
    NdArrayError = 0,
    IncompatibleShape = 1,
    TypeUnsupported = 2,
    InvalidDims = 3,
    OutOfBounds = 4,
    RuntimeError = 5,
    Other = 6,
    ConversionError = 7,
    NumericRangeError = 8,
    LockPoisonError = 9,
    ThreadJoinError = 10,
    SliceError = 11,
    ValueError = 12,
  };

  static OpError nd_array_error(std::string message, ShapeError shape_error);
  static OpError incompatible_shape(std::string message);
  static OpError type_unsupported(std::string message);
  static OpError invalid_dims(std::string message);
  static OpError out_of_bounds(std::string message);
  static OpError runtime_error(std::string message);
  static OpError other(std::string message);
  static OpError conversion_error(std::string context, std::string from_type, std::string to_type);
  static OpError numeric_range_error(std::string context, std::string value, std::string target_type);
  static OpError lock_poison_error(std::string context, std::string details);
  static OpError thread_join_error(std::string context);
  static OpError slice_error(std::string context);
  static OpError value_error(std::string message);

  Kind kind() const noexcept { return kind_; }
  // The first text of the payload: the message, or the context of the named kinds.
  const std::string& message() const noexcept { return texts_[0]; }
  std::string debug() const;

  friend bool operator==(const OpError&, const OpError&) = default;

 private:
  OpError(Kind kind, std::string first, std::string second = {}, std::string third = {});

  Kind kind_;
  std::string texts_[3];
};

class EvalError {
 public:
  enum class Kind : std::uint8_t { OpError = 0, VariableError = 1, Other = 2 };

  static EvalError op_error(error::OpError error);
  static EvalError variable_error(std::string message);
  static EvalError other(std::string message);

  Kind kind() const noexcept { return kind_; }
  // The carried operation error; only for Kind::OpError.
  const error::OpError& inner_op_error() const;
  // The carried text; only for Kind::VariableError and Kind::Other.
  const std::string& message() const noexcept { return text_; }
  // OpError(RuntimeError("...")), VariableError("..."), Other("...").
  std::string debug() const;

  friend bool operator==(const EvalError&, const EvalError&) = default;

 private:
  EvalError(Kind kind, error::OpError op_error, std::string text);

  Kind kind_;
  error::OpError op_error_;
  std::string text_;
};

}  // namespace ketra_autograd::error

#include "ketra_autograd/error.hpp"

#include <array>
#include <string_view>

#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace ketra_autograd::error {

namespace {

constexpr std::array<std::string_view, 13> kind_names = {
    "NdArrayError", "IncompatibleShape", "TypeUnsupported",   "InvalidDims",     "OutOfBounds",     "RuntimeError",
    "Other",        "ConversionError",   "NumericRangeError", "LockPoisonError", "ThreadJoinError", "SliceError",
    "ValueError"};

// Field names of the kinds written with braces; empty for the kinds written with parentheses.
std::array<std::string_view, 3> field_names(OpError::Kind kind) {
  switch (kind) {
    case OpError::Kind::ConversionError: return {"context", "from_type", "to_type"};
    case OpError::Kind::NumericRangeError: return {"context", "value", "target_type"};
    case OpError::Kind::LockPoisonError: return {"context", "details", ""};
    case OpError::Kind::ThreadJoinError:
    case OpError::Kind::SliceError: return {"context", "", ""};
    default: return {"", "", ""};
  }
}

}  // namespace

OpError::OpError(Kind kind, std::string first, std::string second, std::string third)
    : kind_(kind), texts_{std::move(first), std::move(second), std::move(third)} {}

OpError OpError::nd_array_error(std::string message, ShapeError shape_error) {
  return OpError(Kind::NdArrayError, std::move(message), shape_error.debug());
}
OpError OpError::incompatible_shape(std::string m) { return OpError(Kind::IncompatibleShape, std::move(m)); }
OpError OpError::type_unsupported(std::string m) { return OpError(Kind::TypeUnsupported, std::move(m)); }
OpError OpError::invalid_dims(std::string m) { return OpError(Kind::InvalidDims, std::move(m)); }
OpError OpError::out_of_bounds(std::string m) { return OpError(Kind::OutOfBounds, std::move(m)); }
OpError OpError::runtime_error(std::string m) { return OpError(Kind::RuntimeError, std::move(m)); }
OpError OpError::other(std::string m) { return OpError(Kind::Other, std::move(m)); }
OpError OpError::value_error(std::string m) { return OpError(Kind::ValueError, std::move(m)); }
OpError OpError::conversion_error(std::string context, std::string from_type, std::string to_type) {
  return OpError(Kind::ConversionError, std::move(context), std::move(from_type), std::move(to_type));
}
OpError OpError::numeric_range_error(std::string context, std::string value, std::string target_type) {
  return OpError(Kind::NumericRangeError, std::move(context), std::move(value), std::move(target_type));
}
OpError OpError::lock_poison_error(std::string context, std::string details) {
  return OpError(Kind::LockPoisonError, std::move(context), std::move(details));
}
OpError OpError::thread_join_error(std::string context) { return OpError(Kind::ThreadJoinError, std::move(context)); }
OpError OpError::slice_error(std::string context) { return OpError(Kind::SliceError, std::move(context)); }

std::string OpError::debug() const {
  std::string out(kind_names[static_cast<std::size_t>(kind_)]);
  const auto fields = field_names(kind_);
  if (fields[0].empty()) {
    out += '(';
    out += support::debug_str(texts_[0]);
    if (kind_ == Kind::NdArrayError) {
      out += ", ";
      out += texts_[1];  // the shape error's own debug text
    }
    out += ')';
    return out;
  }
  out += " { ";
  for (std::size_t i = 0; i < fields.size() && !fields[i].empty(); ++i) {
    if (i > 0) out += ", ";
    out += fields[i];
    out += ": ";
    out += support::debug_str(texts_[i]);
  }
  out += " }";
  return out;
}

EvalError::EvalError(Kind kind, error::OpError op_error, std::string text)
    : kind_(kind), op_error_(std::move(op_error)), text_(std::move(text)) {}

EvalError EvalError::op_error(error::OpError error) { return EvalError(Kind::OpError, std::move(error), {}); }
EvalError EvalError::variable_error(std::string message) {
  return EvalError(Kind::VariableError, OpError::other({}), std::move(message));
}
EvalError EvalError::other(std::string message) {
  return EvalError(Kind::Other, OpError::other({}), std::move(message));
}

const OpError& EvalError::inner_op_error() const {
  if (kind_ != Kind::OpError) support::panic("EvalError::inner_op_error on an error that carries no OpError");
  return op_error_;
}

std::string EvalError::debug() const {
  switch (kind_) {
    case Kind::OpError: return "OpError(" + op_error_.debug() + ")";
    case Kind::VariableError: return "VariableError(" + support::debug_str(text_) + ")";
    case Kind::Other: break;
  }
  return "Other(" + support::debug_str(text_) + ")";
}

}  // namespace ketra_autograd::error

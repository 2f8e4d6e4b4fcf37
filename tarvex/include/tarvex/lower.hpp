#pragma once
// Expressions in ordinary elementary operations, produced from EML trees. A LoweredOp is
// a small value (tag, payload, up to two shared children); nodes are immutable, so
// copying one copies the tag and payload and shares the children.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "tarvex/symreg/constants.hpp"
#include "tarvex/tree.hpp"

namespace tarvex::lower {

using symreg::constants::NamedConst;

// Tag order is fixed: hashing and the rewrite tables are defined over it.
enum class OpKind : std::uint8_t {
  Const = 0,
  Var,
  Add,
  Sub,
  Mul,
  Div,
  Exp,
  Ln,
  Sin,
  Cos,
  Pow,
  Neg,
  Tan,
  Sinh,
  Cosh,
  Tanh,
  Asin,
  Acos,
  Atan,
  Asinh,
  Acosh,
  Atanh,
  NamedConst,
  Erf,
  LnGamma,
  Digamma,
  Trigamma,
  Ei,
  Si,
  Ci,
};

// One past the last tag: tables indexed by kind take their size from here.
inline constexpr std::size_t op_kind_count = static_cast<std::size_t>(OpKind::Ci) + 1;

// 0 for leaves, 2 for Add, Sub, Mul, Div and Pow, 1 for every other kind.
constexpr int arity(OpKind kind) {
  switch (kind) {
    case OpKind::Const:
    case OpKind::Var:
    case OpKind::NamedConst: return 0;
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul:
    case OpKind::Div:
    case OpKind::Pow: return 2;
    default: return 1;
  }
}

class LoweredOp;
using OpPtr = std::shared_ptr<const LoweredOp>;

class LoweredOp {
 public:
  static LoweredOp constant(double value);
  static LoweredOp var(std::size_t index);
  static LoweredOp named(NamedConst id);
  static LoweredOp unary(OpKind kind, LoweredOp operand);
  static LoweredOp binary(OpKind kind, LoweredOp lhs, LoweredOp rhs);
  // Rebuilds with already shared children (no copy of the child values).
  static LoweredOp unary(OpKind kind, OpPtr operand);
  static LoweredOp binary(OpKind kind, OpPtr lhs, OpPtr rhs);

  OpKind kind() const noexcept { return kind_; }
  bool is(OpKind kind) const noexcept { return kind_ == kind; }
  double value() const noexcept { return value_; }         // Const
  std::size_t index() const noexcept { return index_; }    // Var
  NamedConst named_id() const noexcept { return named_; }  // NamedConst
  // First operand (the only one of a unary node, the left one of a binary node).
  const LoweredOp& lhs() const noexcept { return *lhs_; }
  const LoweredOp& rhs() const noexcept { return *rhs_; }
  const OpPtr& lhs_ptr() const noexcept { return lhs_; }
  const OpPtr& rhs_ptr() const noexcept { return rhs_; }

 private:
  LoweredOp() = default;

  OpKind kind_ = OpKind::Const;
  NamedConst named_ = NamedConst::Pi;
  double value_ = 0.0;
  std::size_t index_ = 0;
  OpPtr lhs_;
  OpPtr rhs_;
};

// Lowers a whole tree (the lowering of its root).
LoweredOp lower(const tree::EmlTree& tree);

}  // namespace tarvex::lower

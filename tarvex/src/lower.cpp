#include "tarvex/lower.hpp"

#include "support/panic.hpp"
#include "tarvex/lower/pattern.hpp"

namespace tarvex::lower {
namespace {

void expect_arity(OpKind kind, int wanted) {
  if (arity(kind) != wanted) {
    support::panic("operation tag {} takes {} operands, not {}", static_cast<int>(kind), arity(kind), wanted);
  }
}

}  // namespace

LoweredOp LoweredOp::constant(double value) {
  LoweredOp op;
  op.kind_ = OpKind::Const;
  op.value_ = value;
  return op;
}

LoweredOp LoweredOp::var(std::size_t index) {
  LoweredOp op;
  op.kind_ = OpKind::Var;
  op.index_ = index;
  return op;
}

LoweredOp LoweredOp::named(NamedConst id) {
  LoweredOp op;
  op.kind_ = OpKind::NamedConst;
  op.named_ = id;
  return op;
}

LoweredOp LoweredOp::unary(OpKind kind, OpPtr operand) {
  expect_arity(kind, 1);
  LoweredOp op;
  op.kind_ = kind;
  op.lhs_ = std::move(operand);
  return op;
}

LoweredOp LoweredOp::binary(OpKind kind, OpPtr lhs, OpPtr rhs) {
  expect_arity(kind, 2);
  LoweredOp op;
  op.kind_ = kind;
  op.lhs_ = std::move(lhs);
  op.rhs_ = std::move(rhs);
  return op;
}

LoweredOp LoweredOp::unary(OpKind kind, LoweredOp operand) {
  return unary(kind, std::make_shared<const LoweredOp>(std::move(operand)));
}

LoweredOp LoweredOp::binary(OpKind kind, LoweredOp lhs, LoweredOp rhs) {
  return binary(kind, std::make_shared<const LoweredOp>(std::move(lhs)),
                std::make_shared<const LoweredOp>(std::move(rhs)));
}

LoweredOp lower(const tree::EmlTree& tree) { return pattern::lower_node(*tree.root); }

}  // namespace tarvex::lower

#include <gtest/gtest.h>

#include "ketra_autograd/error.hpp"
#include "test_support.hpp"

namespace {

using ketra_autograd::ShapeError;
using ketra_autograd::error::EvalError;
using ketra_autograd::error::OpError;
using support::testing::PrintTo;

struct DebugCase {
  const char* name;
  OpError error;
  OpError::Kind kind;
  const char* text;
};

class OpErrorDebug : public ::testing::TestWithParam<DebugCase> {};

TEST_P(OpErrorDebug, ReadsLikeItsKindAndPayload) {
  EXPECT_EQ(GetParam().error.kind(), GetParam().kind);
  EXPECT_EQ(GetParam().error.debug(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    AllKinds, OpErrorDebug,
    ::testing::Values(
        DebugCase{"nd_array_error", OpError::nd_array_error("reshape", ShapeError{}), OpError::Kind::NdArrayError,
                  R"(NdArrayError("reshape", ShapeError/IncompatibleShape: incompatible shapes))"},
        DebugCase{"incompatible_shape", OpError::incompatible_shape("reshape failed: [2, 3] vs [4]"),
                  OpError::Kind::IncompatibleShape, R"(IncompatibleShape("reshape failed: [2, 3] vs [4]"))"},
        DebugCase{"type_unsupported", OpError::type_unsupported("f32"), OpError::Kind::TypeUnsupported,
                  R"(TypeUnsupported("f32"))"},
        DebugCase{"invalid_dims", OpError::invalid_dims("rank 3"), OpError::Kind::InvalidDims,
                  R"(InvalidDims("rank 3"))"},
        DebugCase{"out_of_bounds", OpError::out_of_bounds("index 9"), OpError::Kind::OutOfBounds,
                  R"(OutOfBounds("index 9"))"},
        DebugCase{"runtime_error", OpError::runtime_error("Failed to compute tensor 7"), OpError::Kind::RuntimeError,
                  R"(RuntimeError("Failed to compute tensor 7"))"},
        DebugCase{"other", OpError::other("singular"), OpError::Kind::Other, R"(Other("singular"))"},
        DebugCase{"conversion_error", OpError::conversion_error("a", "b", "c"), OpError::Kind::ConversionError,
                  R"(ConversionError { context: "a", from_type: "b", to_type: "c" })"},
        DebugCase{"numeric_range_error", OpError::numeric_range_error("axis", "-3", "usize"),
                  OpError::Kind::NumericRangeError,
                  R"(NumericRangeError { context: "axis", value: "-3", target_type: "usize" })"},
        DebugCase{"lock_poison_error", OpError::lock_poison_error("cache", "poisoned"), OpError::Kind::LockPoisonError,
                  R"(LockPoisonError { context: "cache", details: "poisoned" })"},
        DebugCase{"thread_join_error", OpError::thread_join_error("worker"), OpError::Kind::ThreadJoinError,
                  R"(ThreadJoinError { context: "worker" })"},
        DebugCase{"slice_error", OpError::slice_error("start > end"), OpError::Kind::SliceError,
                  R"(SliceError { context: "start > end" })"},
        DebugCase{"value_error", OpError::value_error("nan"), OpError::Kind::ValueError, R"(ValueError("nan"))"},
        // Texts are escaped: quotes, backslashes and control characters.
        DebugCase{"quotes_escaped", OpError::incompatible_shape("say \"hi\""), OpError::Kind::IncompatibleShape,
                  R"(IncompatibleShape("say \"hi\""))"},
        DebugCase{"backslash_and_controls_escaped", OpError::other("a\\b\nc\td\x01'"), OpError::Kind::Other,
                  R"(Other("a\\b\nc\td\u{1}'"))"},
        DebugCase{"empty_and_control_fields", OpError::conversion_error("\"", "", "\r"), OpError::Kind::ConversionError,
                  R"(ConversionError { context: "\"", from_type: "", to_type: "\r" })"}),
    ketra_autograd::testing::case_name<DebugCase>);

TEST(OpError, KindNumbersFollowTheirOrder) {
  EXPECT_EQ(static_cast<int>(OpError::Kind::NdArrayError), 0);
  EXPECT_EQ(static_cast<int>(OpError::Kind::RuntimeError), 5);
  EXPECT_EQ(static_cast<int>(OpError::Kind::ValueError), 12);
}

TEST(OpError, CopiesCompareEqual) {
  const OpError error = OpError::numeric_range_error("x", "1", "u8");
  const OpError copy = error;
  EXPECT_EQ(copy, error);
  EXPECT_EQ(copy.message(), "x");
  EXPECT_NE(copy, OpError::numeric_range_error("x", "2", "u8"));
}

TEST(EvalError, DebugWrapsItsPayload) {
  const EvalError failed = EvalError::op_error(OpError::runtime_error("Failed to compute tensor 12"));
  EXPECT_EQ(failed.kind(), EvalError::Kind::OpError);
  EXPECT_EQ(failed.debug(), R"(OpError(RuntimeError("Failed to compute tensor 12")))");
  EXPECT_EQ(failed.inner_op_error().message(), "Failed to compute tensor 12");

  const EvalError missing = EvalError::variable_error("Placeholder not found: \"y\"");
  EXPECT_EQ(missing.kind(), EvalError::Kind::VariableError);
  EXPECT_EQ(missing.debug(), R"(VariableError("Placeholder not found: \"y\""))");

  EXPECT_EQ(EvalError::other("x").debug(), R"(Other("x"))");
  EXPECT_EQ(EvalError::other("x"), EvalError::other("x"));
}

}  // namespace

#include "vorn_core/error.hpp"

#include <string>

#include <gtest/gtest.h>

namespace {

using vorn_core::error::VornError;
using Kind = VornError::Kind;

TEST(VornErrorDisplay, KindPrefixThenTheMessageVerbatim) {
  struct Case {
    Kind kind;
    std::string display;
  };
  const Case cases[] = {
      {Kind::Io, "I/O error: {m}"},
      {Kind::Csv, "CSV error: {m}"},
      {Kind::Parse, "parse error: {m}"},
      {Kind::ShapeMismatch, "shape mismatch: {m}"},
      {Kind::NumericalInstability, "numerical instability: {m}"},
      {Kind::NotConverged, "not converged: {m}"},
      {Kind::Evaluation, "evaluation error: {m}"},
      {Kind::Symbolic, "symbolic error: {m}"},
      {Kind::Backend, "backend error: {m}"},
  };
  static_assert(std::size(cases) == VornError::kind_count);
  for (const Case& c : cases) EXPECT_EQ(VornError(c.kind, "{m}").to_string(), c.display);
  EXPECT_EQ(VornError::not_converged("no finite-scoring candidate expression found").to_string(),
            "not converged: no finite-scoring candidate expression found");
}

}  // namespace

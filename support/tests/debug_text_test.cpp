#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/debug_text.hpp"
#include "support/panic.hpp"

namespace {

TEST(DebugText, EscapesLikeDebugStrings) {
  using namespace std::string_literals;
  EXPECT_EQ(support::debug_str("y"), "\"y\"");
  EXPECT_EQ(support::debug_str("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(support::debug_str("\n\r\t"), "\"\\n\\r\\t\"");
  EXPECT_EQ(support::debug_str("x\0y"s), "\"x\\0y\"");
  EXPECT_EQ(support::debug_str("\x1b"), "\"\\u{1b}\"");
  EXPECT_EQ(support::debug_str("it's"), "\"it's\"");
}

TEST(DebugText, Lists) {
  const std::vector<std::size_t> dims{2, 3};
  const std::vector<std::int64_t> signed_dims{4, -2};
  const std::vector<std::size_t> none;
  EXPECT_EQ(support::debug_list<std::size_t>(dims), "[2, 3]");
  EXPECT_EQ(support::debug_list<std::int64_t>(signed_dims), "[4, -2]");
  EXPECT_EQ(support::debug_list<std::size_t>(none), "[]");
}

TEST(Panic, IsNotAStandardException) {
  bool caught_as_std = false;
  std::string message;
  try {
    try {
      support::panic("limit {} exceeded", 5);
    } catch (const std::exception&) {
      caught_as_std = true;
    }
  } catch (const support::Panic& p) {
    message = p.message();
  }
  EXPECT_FALSE(caught_as_std);
  EXPECT_EQ(message, "limit 5 exceeded");
}

}  // namespace

#pragma once
// Helpers the tests of every library share: the message a panic ends with, and readable
// names for parameterised cases.
#include <gtest/gtest.h>

#include <concepts>
#include <ostream>
#include <string>
#include <string_view>

#include "support/panic.hpp"

namespace support::testing {

// The message of the panic that f ends with, or "<no panic>".
template <typename F>
std::string panic_message(F&& f) {
  try {
    f();
  } catch (const support::Panic& panic) {
    return panic.message();
  }
  return "<no panic>";
}

// A parameterised case that carries its own readable name, a valid test name.
template <typename Case>
concept NamedCase = requires(const Case& c) {
  { c.name } -> std::convertible_to<std::string_view>;
};

// A case's own name as its test name (the default is its index).
template <NamedCase Case>
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.name);
}

// Prints a case as its name where the default would dump its bytes. gtest finds a printer
// in the case type's namespace: a test file takes this one in with
// `using support::testing::PrintTo;` beside its cases.
template <NamedCase Case>
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

}  // namespace support::testing

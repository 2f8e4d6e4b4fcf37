#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "support/number_text.hpp"

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Case {
  double value;
  std::string text;
};

TEST(NumberText, Fixed6GoldenValues) {
  const Case cases[] = {
      {0.0078125, "0.007812"},  // exact tie goes to the even digit
      {2.0000005, "2.000001"},  // the double lies above the tie
      {1.0, "1.000000"},
      {-2.5, "-2.500000"},
      {0.0000001, "0.000000"},
      {-0.0, "-0.000000"},
      {-1e-9, "-0.000000"},
      {1e20, "100000000000000000000.000000"},
      {1e15, "1000000000000000.000000"},
      {nan, "NaN"},
      {-nan, "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(support::fixed6(c.value), c.text) << c.value;
}

TEST(NumberText, ShortestGoldenValues) {
  const Case cases[] = {
      {1.0, "1"},
      {0.25, "0.25"},
      {1e-20, "0.00000000000000000001"},
      {1e-7, "0.0000001"},
      {1e23, "100000000000000000000000"},
      {5.184705528587072e21, "5184705528587072000000"},
      {0.1 + 0.2, "0.30000000000000004"},
      {-0.0, "-0"},
      {0.0, "0"},
      {-2.5, "-2.5"},
      {123456.789, "123456.789"},
      {3.141592653589793, "3.141592653589793"},
      {std::numeric_limits<double>::denorm_min(), "0." + std::string(323, '0') + "5"},
      {nan, "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(support::shortest(c.value), c.text) << c.value;
}

TEST(NumberText, Exponent6GoldenValues) {
  const Case cases[] = {
      {-1.0, "-1.000000e0"},
      {0.001, "1.000000e-3"},
      {0.0, "0.000000e0"},
      {-0.0, "-0.000000e0"},
      {-2.5, "-2.500000e0"},
      {123456789.0, "1.234568e8"},
      {1.0000025, "1.000002e0"},  // the double lies below the tie
      {1.2500005e-300, "1.250001e-300"},
      {9.9999999, "1.000000e1"},  // rounding carries into the exponent
      {1e308, "1.000000e308"},
      {nan, "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& c : cases) EXPECT_EQ(support::exponent6(c.value), c.text) << c.value;
}

TEST(NumberText, ShortestReadsBackExactly) {
  for (double v : {0.1, 1.0 / 3.0, 2.0 / 3.0e-200, 7.3890560989306495, 1.7976931348623157e308}) {
    EXPECT_EQ(std::stod(support::shortest(v)), v);
  }
}

TEST(NumberText, DecimalCommaLocaleStillPrintsPoint) {
  const char* previous = std::setlocale(LC_ALL, nullptr);
  const std::string saved = previous ? previous : "C";
  const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
  ASSERT_NE(german, nullptr) << "locale de_DE.UTF-8 missing: run scripts/setup.sh";
  ASSERT_EQ(std::string(std::localeconv()->decimal_point), ",");
  const std::string fixed = support::fixed6(2.5);
  const std::string shortest = support::shortest(0.25);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(fixed, "2.500000");
  EXPECT_EQ(shortest, "0.25");
}

}  // namespace

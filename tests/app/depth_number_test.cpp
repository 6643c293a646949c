#include "app/depth_number.h"

#include <clocale>

#include <gtest/gtest.h>

namespace vevura::app {
namespace {

TEST(DepthNumber, AcceptsSignDigitsSeparatorAndExponent) {
  EXPECT_DOUBLE_EQ(DepthValue("120.5", "."), 120.5);
  EXPECT_DOUBLE_EQ(DepthValue("-2.5E-1", "."), -0.25);
  EXPECT_DOUBLE_EQ(DepthValue("+7", "."), 7);
  EXPECT_DOUBLE_EQ(DepthValue(".5", "."), 0.5);
  EXPECT_DOUBLE_EQ(DepthValue("5.", "."), 5);
  EXPECT_DOUBLE_EQ(DepthValue("1e3", "."), 1000);
  EXPECT_DOUBLE_EQ(DepthValue("1E+03", "."), 1000);
  EXPECT_DOUBLE_EQ(DepthValue("0012.50", "."), 12.5);
  EXPECT_DOUBLE_EQ(DepthValue("12345678901234567890", "."), 12345678901234567890.0);
  double value = 99;
  EXPECT_TRUE(ParseDecimalNumber("-0", ".", &value));
  EXPECT_EQ(value, 0);
}

TEST(DepthNumber, AnythingElseIsNoNumberAndGivesZero) {
  for (const char* text :
       {"",    "abc", "1.2.3", "1e", "1e+",   "e5",   ".",     "-",      "+.",   "--1", "0x10",
        "inf", "nan", "1 ",    " 1", "1,000", "1.5x", "1e400", "1e-400", "1..2", "\xB9"}) {
    double value = 42;
    EXPECT_FALSE(ParseDecimalNumber(text, ".", &value)) << text;
    EXPECT_EQ(value, 42) << text;
    EXPECT_EQ(DepthValue(text, "."), 0) << text;
  }
}

TEST(DepthNumber, UsesTheGivenSeparatorOnly) {
  EXPECT_DOUBLE_EQ(DepthValue("1,5", ","), 1.5);
  EXPECT_EQ(DepthValue("1.5", ","), 0);
  EXPECT_EQ(DepthValue("1,5", "."), 0);
  // A separator of more than one byte, as some locales have.
  EXPECT_DOUBLE_EQ(DepthValue("3\xD9\xAB"
                              "25",
                              "\xD9\xAB"),
                   3.25);
  EXPECT_EQ(DepthValue("3\xD9"
                       "25",
                       "\xD9\xAB"),
            0);
}

TEST(DepthNumber, LocaleSeparatorOfTheCLocaleIsDot) {
  const char* saved = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved_name = saved != nullptr ? saved : "C";
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(LocaleDecimalSeparator(), ".");
  std::setlocale(LC_NUMERIC, saved_name.c_str());
}

}  // namespace
}  // namespace vevura::app

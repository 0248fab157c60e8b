#include "numbers/number_text.h"

#include <gtest/gtest.h>

namespace vardex {
namespace {

TEST(ParseNumber, AcceptsBlanksSignFractionAndExponent) {
  EXPECT_EQ(ParseNumber(" 45 "), 45.0);
  EXPECT_EQ(ParseNumber("12.5"), 12.5);
  EXPECT_EQ(ParseNumber("-3"), -3.0);
  EXPECT_EQ(ParseNumber("+7"), 7.0);
  EXPECT_EQ(ParseNumber(".5"), 0.5);
  EXPECT_EQ(ParseNumber("5."), 5.0);
  EXPECT_EQ(ParseNumber("1E3"), 1000.0);
  EXPECT_EQ(ParseNumber("2.5e-1"), 0.25);
  EXPECT_EQ(ParseNumber("\t90\t"), 90.0);
}

TEST(ParseNumber, RejectsEverythingElse) {
  for (const char* text : {"", "   ", "abc", "4 5", "1.2.3", "1e", "1e+", "--1", "+", ".", "0x10", "inf",
                           "nan", "12a", "1e999", "€5"})
    EXPECT_FALSE(ParseNumber(text).has_value()) << '"' << text << '"';
}

TEST(ParseNumber, TakesTheUsersDecimalSeparatorAsWellAsThePoint) {
  EXPECT_EQ(ParseNumber("12,5", ','), 12.5);
  EXPECT_EQ(ParseNumber("12.5", ','), 12.5);
  EXPECT_FALSE(ParseNumber("12,5", '.').has_value());
  EXPECT_FALSE(ParseNumber("1,2.5", ',').has_value());
}

TEST(RoundToInt16, RoundsHalvesToEven) {
  EXPECT_EQ(RoundToInt16(12.5), 12);
  EXPECT_EQ(RoundToInt16(13.5), 14);
  EXPECT_EQ(RoundToInt16(-2.5), -2);
  EXPECT_EQ(RoundToInt16(0.4999), 0);
  EXPECT_EQ(RoundToInt16(2.51), 3);
}

TEST(RoundToInt16, DetectsOverflowAtBothEnds) {
  EXPECT_EQ(RoundToInt16(32767.0), 32767);
  EXPECT_EQ(RoundToInt16(32767.4), 32767);
  EXPECT_FALSE(RoundToInt16(32767.5).has_value());  // rounds to 32768
  EXPECT_EQ(RoundToInt16(-32768.5), -32768);        // rounds to the even -32768
  EXPECT_FALSE(RoundToInt16(-32769.0).has_value());
  EXPECT_FALSE(RoundToInt16(40000).has_value());
  EXPECT_EQ(RoundToInt32(90000.0), 90000);
  EXPECT_FALSE(RoundToInt32(3e9).has_value());
}

TEST(FormatGeneral, WritesAtMostFifteenSignificantDigits) {
  EXPECT_EQ(FormatGeneral(230.0 / 1800), "0.127777777777778");
  EXPECT_EQ(FormatGeneral(1810.0 / 1800), "1.00555555555556");
  EXPECT_EQ(FormatGeneral(0.125), "0.125");
  EXPECT_EQ(FormatGeneral(1.0), "1");
  EXPECT_EQ(FormatGeneral(0.5), "0.5");
  EXPECT_EQ(FormatGeneral(240.0 / 1800), "0.133333333333333");
  EXPECT_EQ(FormatGeneral(0.0), "0");
  EXPECT_EQ(FormatGeneral(-0.0), "0");
}

TEST(FormatGeneral, UsesExponentFormOnlyForExtremeMagnitudes) {
  EXPECT_EQ(FormatGeneral(0.0001), "0.0001");
  EXPECT_EQ(FormatGeneral(0.00001), "1E-05");
  EXPECT_EQ(FormatGeneral(123456789012345.0), "123456789012345");
  EXPECT_EQ(FormatGeneral(1e15), "1E+15");
  EXPECT_EQ(FormatGeneral(1.5e-100), "1.5E-100");
}

TEST(FormatGeneral, WritesTheGivenDecimalSeparator) {
  EXPECT_EQ(FormatGeneral(0.125, ','), "0,125");
  EXPECT_EQ(FormatGeneral(90.0, ','), "90");
}

TEST(FormatInteger, PlainDecimal) {
  EXPECT_EQ(FormatInteger(0), "0");
  EXPECT_EQ(FormatInteger(-32768), "-32768");
  EXPECT_EQ(FormatInteger(65531), "65531");
}

}  // namespace
}  // namespace vardex

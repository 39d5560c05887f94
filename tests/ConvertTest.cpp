// Text-to-number conversions of the platform layer.
#include "platform/Convert.h"

#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "platform/Exception.h"

TEST(Convert, Integers) {
  const struct {
    const char* Text;
    bool Valid;
    int Value;
  } cases[] = {
      {"42", true, 42},
      {"  -7", true, -7},
      {"+7", true, 7},
      {"$ff", true, 255},
      {"x1A", true, 26},
      {"0X10", true, 16},
      {"-$10", true, -16},
      {"2147483647", true, INT_MAX},
      {"-2147483648", true, INT_MIN},
      {"$80000000", true, INT_MIN},
      {"2147483648", false, 0},
      {"7 ", false, 0},
      {"\t7", false, 0},
      {"", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"1e3", false, 0},
      {"12abc", false, 0},
      {"$fg", false, 0},
      {"0b1", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    if (c.Valid) {
      EXPECT_EQ(StrToInt(c.Text), c.Value);
    } else {
      EXPECT_THROW(StrToInt(c.Text), EConvertError);
      EXPECT_EQ(StrToIntDef(c.Text, -99), -99);
    }
  }
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
}

TEST(Convert, Reals) {
  const struct {
    const char* Text;
    bool Valid;
    double Value;
  } cases[] = {
      {"2.5", true, 2.5},  {" -2.5 ", true, -2.5},  {"+.5", true, 0.5},  {"5.", true, 5},
      {"1e3", true, 1000}, {"1.5E-2", true, 0.015}, {"7", true, 7},      {"", false, 0},
      {".", false, 0},     {"e3", false, 0},        {"1e", false, 0},    {"1.2.3", false, 0},
      {"2,5", false, 0},   {"inf", false, 0},       {"1e999", false, 0}, {"0x10", false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    if (c.Valid)
      EXPECT_DOUBLE_EQ(StrToFloat(c.Text), c.Value);
    else
      EXPECT_THROW(StrToFloat(c.Text), EConvertError);
  }
  try {
    StrToFloat("abc");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'abc' is not a valid floating point value");
  }
}

TEST(Convert, LocaleSeparator) {
  TCommaLocale comma;
  if (!comma.Available()) GTEST_SKIP() << "cannot compile a locale with a comma separator";
  EXPECT_DOUBLE_EQ(StrToFloat("2,5"), 2.5);
  EXPECT_THROW(StrToFloat("2.5"), EConvertError);
  EXPECT_DOUBLE_EQ(StrToFloatDef("2.5", -1), -1);
}

#include "platform/Format.h"

#include <gtest/gtest.h>

#include <cstdint>

struct TFormatCase {
  const char* Name;
  std::string Result;
  std::string Expected;
};

TEST(Format, Directives) {
  const int64_t big = INT64_C(-9223372036854775807) - 1;
  const TFormatCase cases[] = {
      {"32-bit integer", Format("n=%d", {42}), "n=42"},
      {"64-bit integer", Format("%d", {big}), "-9223372036854775808"},
      {"text", Format("[%s]", {"abc"}), "[abc]"},
      {"bare real has two decimals", Format("%f", {3.14159}), "3.14"},
      {"real with precision", Format("%2.2f", {25.0}), "25.00"},
      {"real rounds", Format("%f", {0.005}), "0.01"},
      {"percent sign", Format("100%%", {}), "100%"},
      {"escaped directive stays text", Format("img%%03d.jpg", {}), "img%03d.jpg"},
      {"width pads left", Format("%5d|", {7}), "    7|"},
      {"minus pads right", Format("%-4s|", {"ab"}), "ab  |"},
      {"hexadecimal", Format("%x", {255}), "ff"},
      {"several arguments in order", Format("%s@%s: %d", {"a", "b", 3}), "a@b: 3"},
      {"missing argument left as is", Format("%s and %s", {"x"}), "x and %s"},
      {"unknown directive left as is", Format("%q", {1}), "%q"},
      {"trailing percent", Format("50%", {}), "50%"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Result, c.Expected) << c.Name;
}

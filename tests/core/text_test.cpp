#include "core/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(ParseInt, ReadsLeadingDecimalNumber) {
  struct Case {
    const char* label;
    const char* text;
    int expected;
  };
  const Case cases[] = {
      {"plain", "42", 42},
      {"trailing letters", "12abc", 12},
      {"no digits", "abc", 0},
      {"empty", "", 0},
      {"negative", "-7", -7},
      {"leading blanks", "   9600", 9600},
      {"too large saturates", "99999999999999", INT_MAX},
      {"too small saturates", "-99999999999999", INT_MIN},
  };
  for (const Case& c : cases) EXPECT_EQ(dvrParseInt(c.text), c.expected) << c.label;
}

TEST(FixedText, CutsAtItsLimit) {
  dvrText<31> key(std::string(100, 'k'));
  EXPECT_EQ(key.size(), 31u);
  EXPECT_EQ(key.view(), std::string(31, 'k'));
  key = "short";
  EXPECT_EQ(key.view(), "short");
  EXPECT_STREQ(key.c_str(), "short");
}

TEST(EqualNoCase, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(dvrEqualNoCase("SaveSettings", "savesettings"));
  EXPECT_FALSE(dvrEqualNoCase("Set", "Sets"));
  EXPECT_FALSE(dvrEqualNoCase("a", "b"));
}


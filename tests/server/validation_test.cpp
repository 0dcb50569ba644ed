// validation_test.cpp -- the UTF-8 and percent-decoding rules at their edges, where a decoder
// most often goes wrong.
#include <gtest/gtest.h>

#include "validate.h"

namespace scores {
namespace {

TEST(Validation, AcceptsWellFormedTextUpToTheLimitInCodePoints) {
  EXPECT_TRUE(IsCleanText("", 64));
  EXPECT_TRUE(IsCleanText("plain ASCII ~", 64));
  EXPECT_TRUE(IsCleanText("\xC2\xA0", 1));          // U+00A0, the first code point past C1
  EXPECT_TRUE(IsCleanText("\xE0\xA0\x80", 1));      // U+0800, the shortest three-byte form
  EXPECT_TRUE(IsCleanText("\xEF\xBF\xBD", 1));      // U+FFFD
  EXPECT_TRUE(IsCleanText("\xF0\x9F\x8E\xAF", 1));  // U+1F3AF, a four-byte emoji
  EXPECT_TRUE(IsCleanText("\xF4\x8F\xBF\xBF", 1));  // U+10FFFF, the last code point
  EXPECT_TRUE(IsCleanText("\xC3\xA9\xC3\xA9\xC3\xA9", 3));
  EXPECT_FALSE(IsCleanText("\xC3\xA9\xC3\xA9\xC3\xA9", 2));
  EXPECT_FALSE(IsCleanText("abcd", 3));
}

TEST(Validation, RefusesMalformedUtf8AndControlCharacters) {
  for (const char* bad : {
           "\x80",              // a continuation byte alone
           "\xC1\xBF",          // overlong two-byte form
           "\xE0\x9F\xBF",      // overlong three-byte form
           "\xF0\x8F\xBF\xBF",  // overlong four-byte form
           "\xED\xA0\x80",      // a UTF-16 surrogate
           "\xF4\x90\x80\x80",  // past U+10FFFF
           "\xF5\x80\x80\x80",  // a lead byte that cannot occur
           "ab\xE2\x82",        // cut off at the end
           "\xE2\x28\xA1",      // a lead byte followed by ASCII
           "\x1F", "\x7F", "tab\there",
           "\xC2\x9F",  // U+009F, a C1 control
       }) {
    SCOPED_TRACE(testing::PrintToString(std::string(bad)));
    EXPECT_FALSE(IsCleanText(bad, 64));
  }
  EXPECT_FALSE(IsCleanText(std::string_view("a\0b", 3), 64));
}

TEST(Validation, DecodesPercentEscapesStrictly) {
  EXPECT_EQ(PercentDecode("a%2Bb+c%2fd%C3%A9"), "a+b c/d\xC3\xA9");
  EXPECT_EQ(PercentDecode("%00"), std::string(1, '\0'));
  EXPECT_EQ(PercentDecode("50%"), std::nullopt);
  EXPECT_EQ(PercentDecode("%4"), std::nullopt);
  EXPECT_EQ(PercentDecode("%g0"), std::nullopt);
  EXPECT_EQ(PercentDecode("%u0041"), std::nullopt);

  auto fields = ParseQuery("a=1&&b&c=x%3Dy&=z");
  ASSERT_TRUE(fields);
  EXPECT_EQ(*fields,
            (std::map<std::string, std::string>{{"a", "1"}, {"b", ""}, {"c", "x=y"}, {"", "z"}}));
  EXPECT_EQ(ParseQuery("a=1&a=1"), std::nullopt);
  EXPECT_EQ(ParseQuery("a=1&b=%"), std::nullopt);
}

}  // namespace
}  // namespace scores

// scramble_test.cpp -- scrambling of stored values and the number rules of start-up.
#include "store/scramble.h"

#include <gtest/gtest.h>

#include "startup/program.h"
#include "store/settings.h"
#include "support.h"

namespace qv::test {
namespace {

TEST(Scramble, WorkedValues) {
  EXPECT_EQ(ScrambleWithKey("1500", 3), "3438303333");
  EXPECT_EQ(Unscramble("3438303333"), "1500");
  EXPECT_EQ(ScrambleWithKey("7", 1), "3821102121");
  EXPECT_EQ(Unscramble("3821102121"), "7");
  std::string empty = ScrambleWithKey("", 5);
  EXPECT_EQ(empty, "2525502525");
  EXPECT_EQ(Unscramble(empty), "");
  EXPECT_EQ(LeadingNumber(Unscramble(empty)), 0);
  EXPECT_EQ(ScrambleWithKey("-40", 9), "363D903929");
  EXPECT_EQ(Unscramble("363D903929"), "-40");
}

TEST(Scramble, EveryScoreWithEveryKeyRoundTripsInTheStoredShape) {
  for (int key = 1; key <= 9; ++key) {
    for (int score = 0; score <= 999999; ++score) {
      const std::string text = std::to_string(score);
      const std::string s = ScrambleWithKey(text, key);
      if (Unscramble(s) != text || s.size() % 2 != 0 || s.size() < 10 || s[4] != '0' + key ||
          s[5] != '0') {
        FAIL() << "score " << score << " key " << key << " gives " << s;
      }
    }
  }
}

TEST(Scramble, KeyDigitIsDrawnFromOneToNine) {
  World w(SimOptions{}, false);
  std::array<int, 10> seen{};
  for (int i = 0; i < 2000; ++i) {
    std::string s = Scramble(w.pg.rng, "1500");
    ASSERT_GE(s[4], '1');
    ASSERT_LE(s[4], '9');
    ++seen[static_cast<size_t>(s[4] - '0')];
    ASSERT_EQ(Unscramble(s), "1500");
  }
  for (int k = 1; k <= 9; ++k) EXPECT_GT(seen[static_cast<size_t>(k)], 150) << k;
}

TEST(Unscramble, DamagedAndForeignText) {
  EXPECT_EQ(Unscramble(""), "");
  // The "0" that clearing the high score stores: one character of code 0, read as 0.
  EXPECT_EQ(Unscramble("0"), std::string(1, '\0'));
  EXPECT_EQ(LeadingNumber(Unscramble("0")), 0);
  // No key digit: the key counts as 0 and the pairs are read as they are.
  EXPECT_EQ(Unscramble("3132X03334"), "1234");
  // Non-hex characters inside a pair are skipped.
  EXPECT_EQ(Unscramble("3Z38303333"), std::string(1, '\0') + "500");
  // A pair below the key cannot come from scrambling: the whole value is treated as missing.
  EXPECT_EQ(Unscramble("0038303333"), "");
  EXPECT_EQ(Unscramble("FFFF90FFFF"), std::string(4, static_cast<char>(246)));
}

TEST(HexToNumber, ReadsHexDigitsInAnyCaseAndSkipsTheRest) {
  EXPECT_EQ(HexToNumber("2f"), "47");
  EXPECT_EQ(HexToNumber("2F"), "47");
  EXPECT_EQ(HexToNumber("G1"), "1");
  EXPECT_EQ(HexToNumber(""), "0");
  EXPECT_EQ(HexToNumber("7FFFFFFF"), "2147483647");
  EXPECT_EQ(HexToNumber("FFFFFFFF"), "-1");  // a 32-bit value, not a crash
}

TEST(Numbers, LeadingNumberOfStoredText) {
  EXPECT_EQ(LeadingNumber("1500"), 1500);
  EXPECT_EQ(LeadingNumber("  42abc"), 42);
  EXPECT_EQ(LeadingNumber("-7 "), -7);
  EXPECT_EQ(LeadingNumber("+3"), 3);
  EXPECT_EQ(LeadingNumber("12.7"), 12);
  EXPECT_EQ(LeadingNumber("x12"), 0);
  EXPECT_EQ(LeadingNumber("-"), 0);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("2147483647"), 2147483647);
  EXPECT_EQ(LeadingNumber("-2147483648"), INT32_MIN);
  EXPECT_EQ(LeadingNumber("2147483648"), 0);  // too large to be a stored score
  EXPECT_EQ(LeadingNumber("99999999999999999999"), 0);

  double v = 0;
  EXPECT_TRUE(ParseNumber("1", &v));
  EXPECT_EQ(v, 1);
  EXPECT_TRUE(ParseNumber(" -2.5 ", &v));
  EXPECT_EQ(v, -2.5);
  EXPECT_FALSE(ParseNumber("", &v));
  EXPECT_FALSE(ParseNumber("yes", &v));
  EXPECT_FALSE(ParseNumber("1e3", &v));
  EXPECT_FALSE(ParseNumber("0x10", &v));
  EXPECT_FALSE(ParseNumber(".", &v));
}

}  // namespace
}  // namespace qv::test

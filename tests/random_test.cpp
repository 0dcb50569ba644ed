// random_test.cpp -- the generator's range and uniformity, and the integer draws.
#include "core/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "support.h"

namespace qv::test {
namespace {

TEST(Random, DrawsStayInTheUnitIntervalAndRepeatForASeed) {
  Random a, b;
  a.Seed(42);
  b.Seed(42);
  for (int i = 0; i < 100000; ++i) {
    float r = a.Next();
    ASSERT_GE(r, 0.0f);
    ASSERT_LT(r, 1.0f);
    ASSERT_EQ(r, b.Next());
  }
  Random c;
  c.Seed(43);
  a.Seed(42);
  int same = 0;
  for (int i = 0; i < 100; ++i) same += a.Next() == c.Next();
  EXPECT_LT(same, 5);
}

TEST(RandomInt, CoversTheRangeUniformly) {
  World w(SimOptions{}, false);
  std::map<int, int> counts;
  const int draws = 90000;
  for (int i = 0; i < draws; ++i) ++counts[RandomInt(w.pg.rng, 0, 2)];
  ASSERT_EQ(counts.size(), 3u);
  // Chi-square with 2 degrees of freedom; 13.8 is the 0.1 % critical value.
  double chi = 0;
  for (auto [value, n] : counts) {
    ASSERT_GE(value, 0);
    ASSERT_LE(value, 2);
    chi += (n - draws / 3.0) * (n - draws / 3.0) / (draws / 3.0);
  }
  EXPECT_LT(chi, 13.8);

  for (int i = 0; i < 100; ++i) ASSERT_EQ(RandomInt(w.pg.rng, 5, 5), 5);
  for (int i = 0; i < 1000; ++i) {
    int v = RandomInt(w.pg.rng, -3, 3);
    ASSERT_GE(v, -3);
    ASSERT_LE(v, 3);
  }
}

TEST(RandomInt, TheExtremesOfTheUnitIntervalStayInsideWideRanges) {
  const float just_below_one = std::nextafter(1.0f, 0.0f);
  EXPECT_EQ(ScaleDraw(just_below_one, 14000, 28999), 28999);  // never 29000
  EXPECT_EQ(ScaleDraw(0.0f, 14000, 28999), 14000);
  EXPECT_EQ(ScaleDraw(just_below_one, 0, 2), 2);
  EXPECT_EQ(ScaleDraw(0.5f, 0, 2), 1);
}

TEST(RandomIntReseeded, GivesLaunchFrequenciesInRange) {
  World w(SimOptions{}, false);
  int lo = 40000, hi = 0;
  for (int i = 0; i < 20000; ++i) {
    // A fresh seed each time, as the clock moves on between launches.
    w.machine.ProcessEvents(std::nullopt);
    int f = RandomIntReseeded(w.pg.rng, w.machine, 28999, 14000);
    ASSERT_GE(f, 14000);
    ASSERT_LE(f, 28999);
    lo = std::min(lo, f);
    hi = std::max(hi, f);
  }
  EXPECT_LT(lo, 14100);
  EXPECT_GT(hi, 28900);
}

}  // namespace
}  // namespace qv::test

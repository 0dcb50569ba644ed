// spoken_numbers_test.cpp -- which number words each value is read as, in order, and how
// they are played.
#include "sound/spoken_numbers.h"

#include <gtest/gtest.h>

#include <sstream>

#include "game/shooting_game.h"
#include "sound/sound_bank.h"
#include "support.h"

namespace qv::test {
namespace {

struct Spoken : ::testing::Test {
  Spoken() {
    w.machine.ShowWindow();
    LoadSoundBank(w.pg.audio);
  }
  // The samples one call plays, without folder and extension, separated by spaces.
  std::string Speak(int32_t value) {
    size_t from = w.Log().size();
    SpeakNumber(w.pg.audio, value);
    std::string out;
    for (size_t i = from; i < w.Log().size(); ++i) {
      const LogEntry& e = w.Log()[i];
      if (e.op != "play") continue;
      std::string name = e.subject.substr(std::string("numbers/").size());
      out += (out.empty() ? "" : " ") + name.substr(0, name.size() - 4);
    }
    return out;
  }
  World w;
};

TEST_F(Spoken, WorkedValuesAndEdgeCases) {
  const std::vector<std::pair<int32_t, std::string>> cases = {
      {0, "sn0"},
      {7, "sn7"},
      {10, "sn10"},
      {12, "sn12"},
      {20, "sn20"},
      {21, "sn20 sn1"},
      {100, "sn1 hundred"},
      {105, "sn1 hundred sn5"},
      {110, "sn1 hundred sn10"},
      {999, "sn9 hundred sn90 sn9"},
      {1000, "sn1 thousand"},
      {1001, "sn1 thousand sn1"},
      {1010, "sn1 thousand sn10"},
      {1100, "sn1 thousand sn1 hundred"},
      {2000, "sn2 thousand"},
      {10000, "sn10 thousand"},
      {12345, "sn12 thousand sn3 hundred sn40 sn5"},
      {20500, "sn20 thousand sn5 hundred"},
      {21000, "sn20 sn1 thousand"},
      {100000, "sn1 hundred thousand"},
      {101000, "sn1 hundred sn1 thousand"},
      {110000, "sn1 hundred sn10 thousand"},
      {120000, "sn1 hundred sn20 thousand"},
      {123456, "sn1 hundred sn20 sn3 thousand sn4 hundred sn50 sn6"},
      {999999, "sn9 hundred sn90 sn9 thousand sn9 hundred sn90 sn9"},
      {1000000, ""},
      {1000001, "sn1"},
      {1234567, "sn2 hundred sn30 sn4 thousand sn5 hundred sn60 sn7"},
      {-5, "sn5"},
      {-12, "sn12"},
      {-1000, "sn1 thousand"},
      {INT32_MIN, "sn4 hundred sn80 sn3 thousand sn6 hundred sn40 sn8"},
  };
  for (const auto& [value, words] : cases) EXPECT_EQ(Speak(value), words) << value;
}

TEST_F(Spoken, StopsTheLaunchSoundEvenWhenNothingIsSaid) {
  size_t from = w.Log().size();
  SpeakNumber(w.pg.audio, 1000000);
  ASSERT_EQ(w.Log().size(), from + 1);
  EXPECT_EQ(w.Log()[from].op, "stop");
  EXPECT_EQ(w.Log()[from].subject, "launch.wav");
}

TEST_F(Spoken, SamplesFollowEachOtherWithoutOverlapOrGapCentredAtFullVolume) {
  SpeakNumber(w.pg.audio, 123456);
  std::vector<uint32_t> starts;
  for (const LogEntry& e : w.Log()) {
    if (e.op == "play") starts.push_back(e.ms);
    if (e.op == "pan") {
      EXPECT_EQ(e.value, "0");
    }
    EXPECT_NE(e.op, "volume");
  }
  ASSERT_EQ(starts.size(), 9u);
  // Each test sample is 200 ms: the next starts the very pass the last one ended.
  for (size_t i = 1; i < starts.size(); ++i) EXPECT_EQ(starts[i] - starts[i - 1], 200u);
  // The call returns only after the last has stopped.
  EXPECT_EQ(w.machine.Now() - starts.back(), 200u);
  EXPECT_FALSE(w.machine.FindBuffer(w.pg.audio.OneShotBuffer)->playing);
}

TEST_F(Spoken, AMissingWordEndsTheReadingWithTheFailure) {
  std::filesystem::remove(w.opts.sounds_dir + "/numbers/thousand.wav");
  EXPECT_THROW(SpeakNumber(w.pg.audio, 2345), PlatformError);
  EXPECT_EQ(Speak(0), "sn0");  // earlier words still work afterwards
}

}  // namespace
}  // namespace qv::test

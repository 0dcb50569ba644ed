// submit_test.cpp -- the score submission on the virtual machine: the URL it sends, what a
// delivery stores, and how every failure ends; and the percent-encoding of its values.
#include <gtest/gtest.h>

#include <cstdlib>

#include "input/keyboard.h"
#include "store/scramble.h"
#include "store/settings.h"
#include "submit/submit_score.h"
#include "support.h"

namespace qv::test {
namespace {

struct Sender {
  Sender(int http_status, int http_delay_ms) : w(Options(http_status, http_delay_ms)) {
    for (const char* f : {"Sendwait.wav", "SendGood.wav", "senderror.wav"}) {
      WriteWav(w.opts.sounds_dir + "/" + f, 200);
    }
    w.machine.ShowWindow();
    InitKeyboard(w.pg.keyboard);
    unsetenv("QUORVANE_SCORE_HOST");
    // Stored as the game stores them, straight into the file so the log shows only the game's.
    w.settings.Store("Quorvane", "reg", "pname", "Ann");
    w.settings.Store("Quorvane", "settings", "difficulty", Scramble(w.pg.rng, "2"));
    w.settings.Store("QuorVane", "Settings", "HighScore", Scramble(w.pg.rng, "1500"));
  }
  static SimOptions Options(int status, int delay) {
    SimOptions o;
    o.http_status = status;
    o.http_delay_ms = delay;
    return o;
  }
  uint32_t At(const std::string& op, const std::string& subject, size_t from = 0) const {
    int i = w.Find(op, subject, from);
    EXPECT_GE(i, 0) << op << " " << subject;
    return i < 0 ? 0 : w.Log()[static_cast<size_t>(i)].ms;
  }
  World w;
};

TEST(Submit, ADeliveredScoreSendsTheStoredValuesAndIsRemembered) {
  Sender s(200, 100);
  EXPECT_TRUE(SubmitScore(s.w.pg.sender));
  EXPECT_EQ(s.w.Events({"http"}).at(0),
            "http http://scores.quorvane.example/scores/quorvane.php?password=417bqwtn58"
            "&level=2&score=1500&name=Ann&email=");
  EXPECT_EQ(s.w.Events({"play", "store", "timer"}),
            (std::vector<std::string>{"timer Timer1", "play Sendwait.wav", "play SendGood.wav",
                                      "store quorvane/settings/qv", "timer Timer1"}));
  EXPECT_EQ(s.w.Log().back().value, "off");
  EXPECT_EQ(s.w.settings.Read("quorvane", "settings", "qv"), "1");
  EXPECT_TRUE(s.w.pg.settings.ScoreSent);

  setenv("QUORVANE_SCORE_HOST", "127.0.0.1:8080", 1);
  EXPECT_EQ(ScoreServerHost(), "127.0.0.1:8080");
  unsetenv("QUORVANE_SCORE_HOST");
}

TEST(Submit, ValuesArePercentEncodedByteByByte) {
  EXPECT_EQ(PercentEncode("Zoë & Co=1"), "Zo%C3%AB%20%26%20Co%3D1");
  EXPECT_EQ(PercentEncode("a-b.c_d~Z9+/?#%"), "a-b.c_d~Z9%2B%2F%3F%23%25");
}

// A time-out, an error status and a failed transfer end alike.
struct Failure : ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Failure, PlaysTheErrorAndStoresNothing) {
  Sender s(GetParam().first, GetParam().second);
  EXPECT_FALSE(SubmitScore(s.w.pg.sender));
  EXPECT_EQ(s.w.Events({"play", "store"}),
            (std::vector<std::string>{"play Sendwait.wav", "play senderror.wav"}));
  EXPECT_EQ(s.w.Log().back().subject, "Timer1");
  EXPECT_EQ(s.w.Log().back().value, "off");
  EXPECT_FALSE(s.w.pg.settings.ScoreSent);
  EXPECT_EQ(s.w.settings.Read("quorvane", "settings", "qv"), std::nullopt);
}

std::string FailureName(const ::testing::TestParamInfo<std::pair<int, int>>& info) {
  return info.param.second < 0 ? "NoAnswer" : "Status" + std::to_string(info.param.first);
}
INSTANTIATE_TEST_SUITE_P(Submit, Failure,
                         ::testing::Values(std::pair{200, -1}, std::pair{500, 100},
                                           std::pair{0, 100}),
                         FailureName);

TEST(Submit, EachSubmissionWaitsItsOwnTwentyOneTicksAndEscapeCannotEndIt) {
  Sender s(200, -1);
  s.w.machine.SetKey(kKeyEscape, true);
  for (int round = 0; round < 2; ++round) {
    size_t from = s.w.Log().size();
    EXPECT_FALSE(SubmitScore(s.w.pg.sender));
    EXPECT_EQ(s.w.Log().at(from).value, "start");  // a fresh transfer
    EXPECT_EQ(s.At("play", "senderror.wav", from) - s.At("timer", "Timer1", from), 10500u);
  }
}

}  // namespace
}  // namespace qv::test

// bonus_round_test.cpp -- the bonus round on the virtual machine: its rhythm, hits, misses,
// locked keys and Escape, read from the sound log.
#include "game/bonus_round.h"

#include <gtest/gtest.h>

#include <functional>

#include "input/keyboard.h"
#include "sound/sound_bank.h"
#include "support.h"

namespace qv::test {
namespace {

// The game as the main menu hands it over: window, keyboard acquired, bank loaded.
struct Round {
  explicit Round(uint32_t tick0 = 0) : w(Options(tick0)) {
    for (const char* f : {"bonuswelcome.wav", "go.wav", "final.wav"}) {
      WriteWav(w.opts.sounds_dir + "/" + f, 200);
    }
    w.machine.ShowWindow();
    InitKeyboard(w.pg.keyboard);
    LoadSoundBank(w.pg.audio);
  }
  static SimOptions Options(uint32_t tick0) {
    SimOptions o;
    o.tick0 = tick0;
    return o;
  }
  // Runs the round with hook called at every virtual millisecond.
  void Play(std::function<void()> hook = [] {}) {
    w.machine.SetTurnHook(std::move(hook));
    StartBonusRound(w.pg.game);
  }
  std::vector<uint32_t> Times(const std::string& op, const std::string& file) const {
    std::vector<uint32_t> out;
    for (const LogEntry& e : w.Log()) {
      if (e.op == op && e.subject == file) out.push_back(e.ms);
    }
    return out;
  }
  // Milliseconds the current target has fallen.
  uint32_t Fallen() { return w.machine.Now() - static_cast<uint32_t>(w.pg.game.state.FlightStart); }
  void Press(int key, bool down) { w.machine.SetKey(key, down); }
  World w;
};

// A seed whose first position draws are these.
uint32_t SeedDrawing(std::vector<int> positions) {
  for (uint32_t seed = 1;; ++seed) {
    Random r;
    r.Seed(seed);
    bool all = true;
    for (int p : positions) all = all && ScaleDraw(r.Next(), 0, 2) == p;
    if (all) return seed;
  }
}

struct LeftAlone : ::testing::TestWithParam<uint32_t> {};

TEST_P(LeftAlone, ElevenTargetsFallAndLandOnTimeThenScoreZeroIsAnnounced) {
  Round r(GetParam());
  QuickAtPlay quick(r.w.machine);
  r.Play();
  // Keys are heard at once from the welcome to the final score, and not after the round.
  for (const char* file : {"bonuswelcome.wav", "bonusFall.wav", "BonusLand.wav", "final.wav"}) {
    EXPECT_EQ(quick.seen[file], std::set<bool>{true}) << file;
  }
  EXPECT_FALSE(r.w.machine.QuickResponse());
  const auto falls = r.Times("play", "bonusFall.wav");
  const auto lands = r.Times("play", "BonusLand.wav");
  ASSERT_EQ(falls.size(), 11u);
  ASSERT_EQ(lands.size(), 11u);
  // Both deadlines are met at the first pass strictly after them, across the counter's wrap.
  EXPECT_EQ(falls[0] - r.Times("play", "BonusMusic.wav").at(0), 1501u);
  for (size_t i = 0; i < 11; ++i) {
    EXPECT_EQ(lands[i] - falls[i], 3001u) << i;
    if (i > 0) {
      EXPECT_EQ(falls[i] - lands[i - 1], 1501u) << i;
    }
  }
  // After the last landing: the final score, 0.
  std::vector<std::string> after;
  for (const LogEntry& e : r.w.Log()) {
    if (e.op == "play" && e.subject == "BonusLand.wav") after.clear();
    if (e.op == "play" && e.subject != "BonusLand.wav") after.push_back(e.subject);
  }
  EXPECT_EQ(after, (std::vector<std::string>{"final.wav", "numbers/sn0.wav", "points.wav"}));
  EXPECT_TRUE(r.Times("play", "bonushit.wav").empty());
  EXPECT_FALSE(r.w.pg.game.state.BonusRunning);
}

// From the start, with the tick counter wrapping during the first wait and the first fall.
std::string Tick0Name(const ::testing::TestParamInfo<uint32_t>& info) {
  return "Tick0_" + std::to_string(info.param);
}
INSTANTIATE_TEST_SUITE_P(Tick0, LeftAlone,
                         ::testing::Values(0u, 0xFFFFFFFFu - 1000u, 0xFFFFFFFFu - 2500u),
                         Tick0Name);

TEST(BonusRound, HitsMoveTheTargetWithoutShorteningItsFallAndNeverTouchTheHighScore) {
  Round r;
  r.w.pg.settings.HighScore = 1;
  int hits = 0;
  uint8_t pressed = 0;
  r.Play([&] {
    const GameState& g = r.w.pg.game.state;
    const int arrows[] = {kKeyLeft, kKeyUp, kKeyRight};
    if (g.TargetInFlight && g.TargetCount == 0 && hits < 3 && r.Fallen() == 600u * (hits + 1)) {
      pressed = g.TargetPos;
      r.Press(arrows[pressed], true);
      ++hits;
    } else if (hits > 0) {
      r.Press(arrows[pressed], false);
    }
  });
  const auto& log = r.w.Log();
  ASSERT_EQ(r.Times("play", "bonushit.wav").size(), 3u);
  EXPECT_TRUE(r.Times("play", "bonusmiss.wav").empty());
  // Each hit sounds where the target was; the landing is where it last jumped to.
  std::string fall_pan;
  int hit_pans = 0;
  for (const LogEntry& e : log) {
    if (e.op == "pan" && e.subject == "bonusFall.wav") fall_pan = e.value;
    if (e.op == "pan" && e.subject == "bonushit.wav") hit_pans += e.value == fall_pan;
    if (e.op == "pan" && e.subject == "BonusLand.wav") {
      EXPECT_EQ(e.value, fall_pan);
      break;
    }
  }
  EXPECT_EQ(hit_pans, 3);
  EXPECT_EQ(r.Times("play", "BonusLand.wav").at(0) - r.Times("play", "bonusFall.wav").at(0), 3001u);
  EXPECT_GT(r.w.Find("play", "numbers/sn3.wav"), r.w.Find("play", "final.wav"));
  EXPECT_EQ(r.w.Events({"store"}), std::vector<std::string>{});
  EXPECT_EQ(r.w.pg.settings.HighScore, 1);
}

TEST(BonusRound, KeysCountOnlyWhileATargetFallsAndAMissAtZeroStaysZero) {
  Round r;
  r.w.pg.rng.Seed(SeedDrawing({2, 2}));
  r.Press(kKeyLeft, true);  // held from before the round: locked until the first launch
  r.Play([&] {
    const GameState& g = r.w.pg.game.state;
    if (g.TargetInFlight && g.TargetCount == 0) r.Press(kKeyLeft, false);
    if (!g.TargetInFlight && g.TargetCount == 1) r.Press(kKeyRight, true);  // held through
    if (g.TargetInFlight && g.TargetCount == 1 && r.Fallen() == 500) r.Press(kKeyEscape, true);
  });
  const auto falls = r.Times("play", "bonusFall.wav");
  ASSERT_EQ(falls.size(), 2u);
  // Nothing sounds while locked; each held key counts in the pass of the launch.
  EXPECT_EQ(r.Times("play", "bonusmiss.wav"), std::vector<uint32_t>{falls[0]});
  EXPECT_EQ(r.Times("play", "bonushit.wav"), std::vector<uint32_t>{falls[1]});
  EXPECT_EQ(r.w.pg.game.state.Score, 1);  // the miss left 0, not -1
}

TEST(BonusRound, TwoKeysInOnePassAreJudgedAgainstTheMovedTarget) {
  Round r;
  r.w.pg.rng.Seed(SeedDrawing({0}));
  GameState& g = r.w.pg.game.state;
  g.TargetPos = 1;
  g.GunLocked = false;
  r.Press(kKeyUp, true);
  r.Press(kKeyLeft, true);
  PollKeyboard(r.w.pg.keyboard);
  HandleBonusKeys(r.w.pg.game);
  // Up hits the centre and the target jumps left, where Left then hits it too.
  EXPECT_EQ(g.Score, 2);
  std::vector<std::string> pans;
  for (const LogEntry& e : r.w.Log()) {
    if (e.op == "pan") pans.push_back(e.subject + " " + e.value);
  }
  ASSERT_EQ(pans.size(), 4u);
  EXPECT_EQ(pans[0], "bonushit.wav 0");
  EXPECT_EQ(pans[1], "bonusFall.wav -10000");
  EXPECT_EQ(pans[2], "bonushit.wav -10000");
  // Both held, and both acted on: neither acts again until let go.
  const Keyboard& keys = r.w.pg.keyboard;
  EXPECT_TRUE(KeyDown(keys, kKeyUp) && KeyDown(keys, kKeyLeft));
  EXPECT_FALSE(KeyPressed(keys, kKeyUp) || KeyPressed(keys, kKeyLeft));
}

TEST(BonusRound, EscapeEndsTheRoundAtOnceWithoutAFinalScore) {
  {  // held through the welcome: no target falls; "go.wav" plays out
    Round r;
    r.Press(kKeyEscape, true);
    r.Play();
    EXPECT_TRUE(r.Times("play", "bonusFall.wav").empty());
    EXPECT_EQ(r.w.Find("stop", "go.wav"), -1);
    EXPECT_GE(r.w.Find("stop", "BonusMusic.wav"), 0);
    EXPECT_EQ(r.w.Find("play", "final.wav"), -1);
  }
  {  // during a fall: the falling sound and the music stop in the pass that sees it
    Round r;
    r.Play([&] {
      if (r.w.pg.game.state.TargetInFlight && r.Fallen() == 1000) r.Press(kKeyEscape, true);
    });
    const uint32_t seen = r.Times("play", "bonusFall.wav").at(0) + 1001;
    EXPECT_EQ(r.Times("stop", "bonusFall.wav"), std::vector<uint32_t>{seen});
    EXPECT_EQ(r.Times("stop", "BonusMusic.wav"), std::vector<uint32_t>{seen});
    EXPECT_EQ(r.w.Find("play", "final.wav"), -1);
    EXPECT_TRUE(r.Times("play", "BonusLand.wav").empty());
  }
}

}  // namespace
}  // namespace qv::test

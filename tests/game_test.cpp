// game_test.cpp -- the shooting game on the virtual machine: whole games played by the bot or
// left alone, and single passes of the game keys, checked on the sound log and the settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "core/window_events.h"
#include "game/shooting_game.h"
#include "input/keyboard.h"
#include "sound/sound_bank.h"
#include "store/scramble.h"
#include "store/settings.h"
#include "support.h"

namespace qv::test {
namespace {

// From the prompt into a game at the given difficulty (Down steps), then whatever follows.
std::string StartGame(int difficulty, const std::string& then) {
  std::string s = "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\n";
  for (int d = 1; d < difficulty; ++d) s += "tap Down\nsleep 300\n";
  return s + "tap Return\n" + then;
}

// A whole game: the bot answers every launch `bot_ms` later; Escape at the menu ends the run.
// Or any script, over a settings file that holds `ini` at the start.
struct WholeGame {
  WholeGame(int difficulty, int bot_ms, uint32_t tick0 = 0)
      : WholeGame(
            StartGame(difficulty, "wait play final.wav\nwait play menuprompt.wav\ntap Escape\n"),
            bot_ms, "", tick0) {}
  WholeGame(const std::string& script, int bot_ms, const std::string& ini, uint32_t tick0 = 0) {
    std::ofstream(settings / "settings.ini") << ini;
    SimOptions o = WithScript(script);
    o.bot_ms = bot_ms;
    o.tick0 = tick0;
    o.settings_path = settings / "settings.ini";
    w = std::make_unique<World>(o);
    status = w->Run();
  }
  // The log entries with this op (and file, unless empty), in order.
  std::vector<LogEntry> All(const std::string& op, const std::string& file = "") const {
    std::vector<LogEntry> out;
    for (const LogEntry& e : w->Log()) {
      if (e.op == op && (file.empty() || e.subject == file)) out.push_back(e);
    }
    return out;
  }
  std::string Stored(const char* app, const char* section, const char* key) {
    return w->settings.Read(app, section, key).value_or("<none>");
  }
  // The stored high score and its difficulty, unscrambled.
  std::string StoredHighScore() { return Unscramble(Stored("QuorVane", "Settings", "HighScore")); }
  std::string StoredDifficulty() {
    return Unscramble(Stored("Quorvane", "settings", "Difficulty"));
  }
  TempDir settings;
  std::unique_ptr<World> w;
  int status = 0;
};

TEST(WholeGames, TheBotWinsEveryDifficultyWithEveryLevelAnnouncedAndStored) {
  for (int difficulty = 1; difficulty <= 3; ++difficulty) {
    SCOPED_TRACE(difficulty);
    WholeGame g(difficulty, 200);
    ASSERT_EQ(g.status, 0);
    const GameState& s = g.w->pg.game.state;
    EXPECT_EQ(s.Level, 6);
    EXPECT_EQ(s.Lives, 11);  // five, and one for each perfect level
    // 32 targets in level 1 and 31 in each later one, each hit: 187 in all.
    EXPECT_EQ(g.All("play", "glass.wav").size(), 187u);
    EXPECT_EQ(g.All("play", "land.wav").size(), 0u);
    EXPECT_EQ(g.All("play", "clear.wav").size(), 6u);
    EXPECT_EQ(g.All("play", "el.wav").size(), 6u);
    EXPECT_EQ(g.All("play", "win.wav").size(), 1u);
    EXPECT_EQ(g.All("play", "highscore.wav").size(), 0u);  // the old high score was 0
    // The win stored the unlock and the final score, which is what was spoken last.
    EXPECT_EQ(g.Stored("QuorVane", "Settings", "ba"), "7");
    EXPECT_EQ(Unscramble(g.Stored("QuorVane", "Settings", "HighScore")), std::to_string(s.Score));
    EXPECT_EQ(Unscramble(g.Stored("Quorvane", "settings", "Difficulty")),
              std::to_string(difficulty));
    EXPECT_EQ(g.w->pg.settings.HighScore, s.Score);
    // Each launch is panned to a position and pitched from 14000 to 28999 Hz before it plays.
    for (const LogEntry& f : g.All("frequency", "launch.wav")) {
      EXPECT_GE(std::stoi(f.value), 14000);
      EXPECT_LE(std::stoi(f.value), 28999);
    }
    for (const LogEntry& p : g.All("pan", "launch.wav")) {
      EXPECT_TRUE(p.value == "-10000" || p.value == "0" || p.value == "10000") << p.value;
    }
    // The music: level1 from the start, level2 from level 4 on, both stopped at the win.
    const auto level2 = g.All("play", "level2.wav");
    ASSERT_FALSE(level2.empty());
    EXPECT_GT(level2.front().ms, g.All("play", "clear.wav").at(2).ms);
    EXPECT_LT(level2.front().ms, g.All("play", "clear.wav").at(3).ms);
  }
}

TEST(WholeGames, LeftAloneTheFifthLandingEndsTheGameWithoutAWin) {
  WholeGame g(1, 2000);  // the bot answers long after every landing
  ASSERT_EQ(g.status, 0);
  EXPECT_EQ(g.All("play", "land.wav").size(), 5u);
  EXPECT_EQ(g.All("play", "glass.wav").size(), 0u);
  EXPECT_EQ(g.All("play", "gameover.wav").size(), 1u);
  EXPECT_EQ(g.All("play", "win.wav").size(), 0u);
  EXPECT_EQ(g.Stored("QuorVane", "Settings", "ba"), "<none>");
  EXPECT_EQ(g.w->pg.game.state.Lives, 0);
  // The first launch more than 1500 ms after the siren's end (it lasts 200 ms here); each
  // landing at the first pass more than 1500 ms after its launch, the next launch more than
  // 1500 ms after that landing.
  const auto launches = g.All("play", "launch.wav");
  const auto landings = g.All("stop", "launch.wav");
  ASSERT_GE(launches.size(), 5u);
  EXPECT_EQ(launches[0].ms - g.All("play", "siren.wav").at(0).ms, 200u + 1501u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(landings[i].ms - launches[i].ms, 1501u) << i;
    EXPECT_EQ(launches[i + 1].ms - landings[i].ms, 1501u) << i;
  }
}

// Keys must be heard at once from the siren to the game's end, and only then: the menus, their
// speech and the game's set-up leave the output holding more.
TEST(WholeGames, OnlyAGameInPlayAsksTheOutputToAnswerKeysAtOnce) {
  World w(WithScript(StartGame(1, "wait play final.wav\nwait play menuprompt.wav\ntap Escape\n")));
  QuickAtPlay quick(w.machine);
  ASSERT_EQ(w.Run(), 0);
  for (const char* file : {"siren.wav", "level1.wav", "launch.wav", "land.wav", "final.wav"}) {
    EXPECT_EQ(quick.seen[file], std::set<bool>{true}) << file;
  }
  for (const char* file : {"intro.wav", "menuprompt.wav", "difficulty.wav", "ending.wav"}) {
    EXPECT_EQ(quick.seen[file], std::set<bool>{false}) << file;
  }
}

TEST(WholeGames, AGameAcrossTheClocksWrapOrItsSignRunsAsAnyOther) {
  // The tick count wraps, or passes 2^31 (where a signed start turns negative), about 20 s in,
  // during level 1.
  for (uint32_t tick0 : {0xFFFFFFFFu - 20000, 0x80000000u - 20000}) {
    SCOPED_TRACE(tick0);
    WholeGame g(2, 200, tick0);
    ASSERT_EQ(g.status, 0);
    EXPECT_EQ(g.All("play", "glass.wav").size(), 187u);
    EXPECT_EQ(g.All("play", "win.wav").size(), 1u);
  }
}

TEST(WholeGames, EscapeEndsAGameAndAScoreAboveTheHighScoreIsStoredHoweverTheGameEnds) {
  {
    TempDir d;
    SimOptions o = WithScript(StartGame(1,
                                        "wait play launch.wav\ntap Escape\n"
                                        "wait play menuprompt.wav\ntap Escape\n"));
    o.settings_path = d / "settings.ini";
    World w(o);
    ASSERT_EQ(w.Run(), 0);
    // Escape at the first launch: nothing to store, the menu comes back afresh.
    const int escape = w.Find("key", "Escape");
    const int music = w.Find("play", "menumusic.wav", static_cast<size_t>(escape));
    ASSERT_GT(music, escape);
    EXPECT_EQ(w.Log().at(static_cast<size_t>(music) - 1).op, "position");
    EXPECT_EQ(w.Find("store", "QuorVane/Settings/HighScore"), -1);
  }
  // Over 1500 stored at difficulty 1, three hits on difficulty 2 (2 x 1300 each, the bot firing
  // 200 ms into each flight), then the game ends before any level end.
  const std::string three_hits =
      "wait play glass.wav\nwait play glass.wav\nwait play glass.wav\nsleep 100\n";
  const std::pair<const char*, std::string> endings[] = {
      {"Escape", "tap Escape\nwait play menuprompt.wav\ntap Escape\n"},
      {"the window closed", "close\n"},
      // In the background the bot's keys go unread: five landings.
      {"game over", "blur\nwait play menuprompt.wav\nfocus\nsleep 100\ntap Escape\n"},
  };
  for (const auto& [ending, then] : endings) {
    SCOPED_TRACE(ending);
    WholeGame g(StartGame(2, three_hits + then), 200, HighScoreFile("1500", 1));
    ASSERT_EQ(g.status, 0);
    EXPECT_EQ(g.w->pg.game.state.Score, 7800);
    EXPECT_EQ(g.StoredHighScore(), "7800");
    EXPECT_EQ(g.StoredDifficulty(), "2");
    EXPECT_EQ(g.w->pg.settings.HighScore, 7800);
    EXPECT_EQ(g.w->Find("load", "ending.wav") >= 0, std::string(ending) != "the window closed");
  }
}

// Level 1 on difficulty 1 ends at 32 x 1300 + the perfect level's 10000 = 51600 over 1500
// stored; then, before the next launch, Left, Up and Right: two of them miss.
const char* const kLevelThenTwoMisses =
    "wait play clear.wav\nwait play points.wav\nsleep 300\ntap Left\nsleep 50\ntap Up\n"
    "sleep 50\ntap Right\nsleep 50\ntap Escape\nwait play menuprompt.wav\nsleep 300\n";

TEST(WholeGames, MissesAfterANewHighScoreNeverLowerTheStoredOne) {
  WholeGame g(StartGame(1, std::string(kLevelThenTwoMisses) + "tap Escape\n"), 200,
              HighScoreFile("1500", 1));
  ASSERT_EQ(g.status, 0);
  EXPECT_EQ(g.w->pg.game.state.Score, 51400);
  EXPECT_EQ(g.StoredHighScore(), "51600");
  EXPECT_EQ(g.w->pg.settings.HighScore, 51600);
}

TEST(WholeGames, SpaceWithCClearsAGamesNewHighScoreForGood) {
  WholeGame g(StartGame(1, std::string(kLevelThenTwoMisses) +
                               "down Space\ndown C\nsleep 100\nup C\nup Space\nsleep 400\n"
                               "tap H\nsleep 1000\ntap Escape\n"),
              200, HighScoreFile("1500", 1));
  ASSERT_EQ(g.status, 0);
  // Nothing after the clear brought the game's score back, in the file or in memory.
  EXPECT_EQ(g.Stored("QuorVane", "Settings", "HighScore"), "0");
  EXPECT_EQ(g.w->pg.settings.HighScore, 0);
  const int clear = g.w->Find("store", "quorvane/settings/highscore");
  ASSERT_GE(clear, 0);
  EXPECT_EQ(g.w->Find("store", "QuorVane/Settings/HighScore", static_cast<size_t>(clear)), -1);
  EXPECT_GE(g.w->Find("play", "numbers/sn0.wav", static_cast<size_t>(clear)), 0);  // H says 0
}

// On difficulty 3, over 1500 stored at difficulty 1: the level end stores the score the player
// has just heard, the perfect level's reward included, with its difficulty, in one store.
TEST(WholeGames, ALevelEndStoresTheScoreJustHeardWithItsDifficulty) {
  WholeGame g(StartGame(3, "wait store QuorVane/Settings/HighScore\nclose\n"), 200,
              HighScoreFile("1500", 1));
  ASSERT_EQ(g.status, 0);
  const int high = g.w->Find("store", "QuorVane/Settings/HighScore");
  ASSERT_GE(high, 0);
  EXPECT_GT(high, g.w->Find("play", "el.wav"));
  EXPECT_GT(high, g.w->Find("play", "points.wav"));
  const LogEntry& with = g.w->Log().at(static_cast<size_t>(high) + 1);
  EXPECT_EQ(with.subject, "Quorvane/settings/Difficulty");
  EXPECT_EQ(with.ms, g.w->Log().at(static_cast<size_t>(high)).ms);
  EXPECT_EQ(g.StoredHighScore(), std::to_string(g.w->pg.game.state.Score));
  EXPECT_EQ(g.StoredDifficulty(), "3");
  EXPECT_EQ(g.w->pg.game.state.Score % 10000, 4800);  // 32 x 3 x 1300 = 124800, then the reward
}

// The win is stored before its fanfare: a window closed while "win.wav" plays keeps the
// unlocked bonus round and the final score, the lives' reward counted.
TEST(WholeGames, AWindowClosedDuringTheWinKeepsTheWin) {
  WholeGame g(StartGame(1, "wait play win.wav\nclose\n"), 200, "");
  ASSERT_EQ(g.status, 0);
  EXPECT_EQ(g.Stored("QuorVane", "Settings", "ba"), "7");
  EXPECT_EQ(g.StoredHighScore(), std::to_string(g.w->pg.game.state.Score));
  const int win = g.w->Find("play", "win.wav");
  ASSERT_GE(win, 0);
  EXPECT_EQ(g.w->Find("store", "QuorVane/Settings/HighScore", static_cast<size_t>(win)), -1);
}

// One pass of the game keys at a time, on a prepared game record.
struct Keys : ::testing::Test {
  Keys() {
    w.machine.ShowWindow();
    w.machine.CreateKeyboard();
    LoadSoundBank(w.pg.audio);
    PollKeyboard(w.pg.keyboard);  // acquires the keyboard
    NewGame(w.pg.game);           // a game's record at its start, on difficulty 1
    w.pg.game.state.Difficulty = 1;
    w.pg.game.state.PerfectLevel = true;
  }
  // A target in flight at `position`, flown `elapsed` ms at the last pass.
  void InFlight(uint8_t position, int32_t elapsed = 0) {
    GameState& g = w.pg.game.state;
    g.TargetPos = position;
    g.TargetInFlight = g.Launched = true;
    g.TargetResolved = false;
    g.GunLocked = false;
    g.FlightElapsed = elapsed;
  }
  // The keys down in one pass, then released.
  void Press(std::initializer_list<int> keys) {
    for (int k : keys) w.machine.SetKey(k, true);
    PollKeyboard(w.pg.keyboard);
    HandleGameKeys(w.pg.game);
    for (int k : keys) w.machine.SetKey(k, false);
    w.machine.ProcessEvents(std::nullopt);
    PollKeyboard(w.pg.keyboard);
  }
  std::vector<std::string> Plays(size_t from) {
    std::vector<std::string> out;
    for (size_t i = from; i < w.Log().size(); ++i) {
      if (w.Log()[i].op == "play") out.push_back(w.Log()[i].subject);
    }
    return out;
  }
  World w;
  GameState& g = w.pg.game.state;
};

TEST_F(Keys, HitsScoreBySpeedAndAResolvedTargetScoresNothingMore) {
  g.Difficulty = 2;
  InFlight(0);  // hit in the very pass of the launch
  Press({kKeyLeft});
  EXPECT_EQ(g.Score, 3000);
  EXPECT_TRUE(g.TargetResolved);
  EXPECT_FALSE(g.TargetInFlight);
  Press({kKeyLeft});  // the same direction again: only the gun
  EXPECT_EQ(g.Score, 3000);
  InFlight(2, 400);  // hit a pass later, 400 ms into the flight
  size_t from = w.Log().size();
  Press({kKeyRight});
  EXPECT_EQ(g.Score, 3000 + 2 * 1100);
  EXPECT_EQ(Plays(from), (std::vector<std::string>{"gun.wav", "glass.wav"}));
  EXPECT_EQ(g.TargetCount, 2);
}

TEST_F(Keys, MissesCostAHundredDownToZeroAndLockTheGunAboveTheEasiestDifficulty) {
  g.Score = 60;
  InFlight(1);
  Press({kKeyLeft});
  EXPECT_EQ(g.Score, 0);
  EXPECT_FALSE(g.PerfectLevel);
  EXPECT_FALSE(g.GunLocked);  // difficulty 1: try again
  Press({kKeyUp});
  EXPECT_EQ(g.Score, 1500);
  for (uint8_t difficulty : {2, 3}) {
    g.Difficulty = difficulty;
    g.Score = 500;
    InFlight(1);
    Press({kKeyRight});
    EXPECT_EQ(g.Score, 400);
    EXPECT_TRUE(g.GunLocked);
    const uint8_t ammo = g.Ammo;
    size_t from = w.Log().size();
    Press({kKeyUp});  // locked: no shot, no ammunition used
    EXPECT_EQ(Plays(from), std::vector<std::string>{"locked.wav"});
    EXPECT_EQ(g.Score, 400);
    EXPECT_EQ(g.Ammo, ammo);
  }
}

TEST_F(Keys, TheMagazineWarnsEmptiesAndRecharges) {
  g.Difficulty = 3;
  g.Ammo = 2;
  InFlight(1);
  size_t from = w.Log().size();
  Press({kKeyUp, kKeyLeft});  // two keys in one pass: Up fires, Left finds the gun empty
  EXPECT_EQ(Plays(from), (std::vector<std::string>{"gun.wav", "glass.wav", "empty.wav"}));
  EXPECT_EQ(g.Ammo, 0);
  EXPECT_FALSE(g.AmmoWarned);  // the count went to 0 without the warning
  from = w.Log().size();
  Press({kKeySpace});
  EXPECT_EQ(Plays(from), std::vector<std::string>{"recharge.wav"});
  EXPECT_EQ(g.Ammo, 6);
  // Five shots; the fifth leaves one, which the warning takes.
  for (int shot = 0; shot < 5; ++shot) {
    InFlight(1);
    Press({kKeyUp});
  }
  EXPECT_EQ(g.Ammo, 0);
  EXPECT_TRUE(g.AmmoWarned);
  EXPECT_EQ(w.Events({"play"}).back(), "play warning.wav");
  from = w.Log().size();
  InFlight(1);
  Press({kKeyUp});
  Press({kKeySpace});
  Press({kKeySpace});  // with shots left, Space refills nothing
  EXPECT_EQ(Plays(from), (std::vector<std::string>{"empty.wav", "recharge.wav", "locked.wav"}));
}

TEST_F(Keys, InformationPausesTheFlightClockButNotTheWaitingClock) {
  g.Score = 1234;
  w.pg.settings.HighScore = 20;
  InFlight(1, 700);
  const uint32_t before = w.machine.Now();
  size_t from = w.Log().size();
  Press({kKeyS});
  const uint32_t spoken = w.machine.Now() - before;
  EXPECT_GT(spoken, 400u);
  // The flight goes on as if no time had passed; the launch sound resumes.
  EXPECT_EQ(w.machine.Now() - static_cast<uint32_t>(g.FlightStart), 700u + 1);
  const auto plays = Plays(from);
  EXPECT_EQ(plays.front(), "numbers/sn1.wav");
  EXPECT_EQ(plays.back(), "launch.wav");
  // Between targets: H and L speak, the launch sound stays quiet, the wait clock runs on.
  g.TargetInFlight = g.Launched = false;
  g.WaitStart = static_cast<int32_t>(w.machine.Now());
  from = w.Log().size();
  Press({kKeyH});
  Press({kKeyL});
  EXPECT_EQ(Plays(from), (std::vector<std::string>{"highscoreis.wav", "numbers/sn20.wav",
                                                   "points.wav", "numbers/sn5.wav"}));
  EXPECT_GT(w.machine.Now() - static_cast<uint32_t>(g.WaitStart), 600u);
}

TEST_F(Keys, ANewGameStartsWithNoTargetToHitAndTheWarningArmed) {
  g.AmmoWarned = true;
  g.TargetResolved = false;
  g.TargetPos = 0;
  NewGame(w.pg.game);
  EXPECT_FALSE(g.AmmoWarned);
  g.Difficulty = 1;
  Press({kKeyLeft});  // before any launch, towards the last game's target
  EXPECT_EQ(g.Score, 0);
}

// The level end, driven directly at the level's last target.
TEST_F(Keys, LevelEndsFollowTheHighScoreAndTheLastLifeIsNotAlsoAWin) {
  w.pg.settings.HighScore = 1000;
  w.pg.settings.ScoreSent = true;
  g.Score = 4000;
  g.PerfectLevel = true;
  g.TargetCount = 31;
  size_t from = w.Log().size();
  CountTarget(w.pg.game);
  EXPECT_EQ(Plays(from).at(0), "highscore.wav");
  EXPECT_EQ(Plays(from).at(1), "el.wav");
  EXPECT_EQ(g.Score, 14000);
  EXPECT_EQ(g.Lives, 6);
  EXPECT_EQ(g.Level, 2);
  EXPECT_EQ(g.FlightLimit, 1300);
  EXPECT_FALSE(w.pg.settings.ScoreSent);
  EXPECT_EQ(w.settings.Read("quorvane", "settings", "qv"), "0");
  // The reward counts at once: the stored high score follows the score to 14000.
  EXPECT_EQ(Unscramble(w.settings.Read("QuorVane", "Settings", "HighScore").value_or("")), "14000");
  EXPECT_EQ(g.TargetCount, 31);  // the level-ending target is not counted

  // The last level, its last target landing with the last life: game over, no win.
  g.Level = 6;
  g.Lives = 1;
  g.TargetCount = 181;
  InFlight(0);
  LandTarget(w.pg.game);
  EXPECT_TRUE(g.GameFinished);
  EXPECT_GE(w.Find("play", "gameover.wav"), 0);
  EXPECT_EQ(w.Find("play", "win.wav"), -1);
  EXPECT_EQ(w.settings.Read("QuorVane", "Settings", "ba"), std::nullopt);
  EXPECT_EQ(g.Level, 6);
}

// A high score is decided on the score the level end stores, so that a level's rewards (the
// perfect level's, and after level 6 the win's for each life) cannot make one unannounced.
TEST_F(Keys, ANewHighScoreMadeByTheLevelsRewardsIsAnnouncedBeforeItIsStored) {
  for (const auto& [level, high] : {std::pair<uint8_t, int32_t>{1, 32}, {6, 10032}}) {
    SCOPED_TRACE(int{level});
    NewGame(w.pg.game);
    g.Difficulty = 1;
    g.PerfectLevel = true;
    g.Level = level;
    g.TargetCount = static_cast<uint8_t>(level * 30 + 1);
    w.pg.settings.HighScore = high;
    g.Score = 32;
    const size_t from = w.Log().size();
    CountTarget(w.pg.game);
    ASSERT_EQ(Plays(from).at(0), "highscore.wav");
    const int stored = w.Find("store", "QuorVane/Settings/HighScore", from);
    ASSERT_GE(stored, 0);
    EXPECT_LT(w.Find("play", "highscore.wav", from), stored);
    EXPECT_GT(std::stoi(Unscramble(w.Log().at(static_cast<size_t>(stored)).value)), high);
  }
}

}  // namespace
}  // namespace qv::test

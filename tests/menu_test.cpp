// menu_test.cpp -- the main menu and the difficulty selection on the virtual machine, run from
// start-up by scripts, checked on the sound log and the settings file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "game/shooting_game.h"
#include "sound/sound_bank.h"
#include "sound/spoken_numbers.h"
#include "store/scramble.h"
#include "support.h"

namespace qv::test {
namespace {

// Runs the program with a script that starts at the menu prompt and ends with Escape there.
struct MenuRun {
  explicit MenuRun(const std::string& keys, const std::string& ini = "") {
    std::ofstream(settings / "settings.ini") << ini;
    SimOptions o = WithScript("wait play menuprompt.wav\nsleep 300\n" + keys + "tap Escape\n");
    o.settings_path = settings / "settings.ini";
    w = std::make_unique<World>(o);
    status = w->Run();
  }
  // "op file value" of every play, volume and store after the first prompt.
  std::vector<std::string> After() const {
    std::vector<std::string> out;
    bool started = false;
    for (const LogEntry& e : w->Log()) {
      started = started || (e.op == "play" && e.subject == "menuprompt.wav");
      if (!started || (e.op != "play" && e.op != "volume" && e.op != "store")) continue;
      if (e.op == "play" && e.subject == "menuprompt.wav") continue;
      out.push_back(e.op + " " + e.subject + (e.op == "play" ? "" : " " + e.value));
    }
    return out;
  }
  TempDir settings;
  std::unique_ptr<World> w;
  int status = 0;
};

// A settings file holding a high score of 1500 at difficulty 2.
std::string StoredHighScore1500() { return HighScoreFile("1500", 2); }

TEST(MainMenu, ItemsWrapBothWaysAndSpeakOverTheDuckedMusic) {
  MenuRun r("tap Up\nsleep 400\ntap Down\nsleep 400\ntap Down\nsleep 400\n");
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> expected = {"volume menumusic.wav -1000",
                                             "volume exit.wav 0",
                                             "play exit.wav",
                                             "volume menumusic.wav 0",
                                             "volume menumusic.wav -1000",
                                             "volume startgame.wav 0",
                                             "play startgame.wav",
                                             "volume menumusic.wav 0",
                                             "volume menumusic.wav -1000",
                                             "volume calSpeakers.wav 0",
                                             "play calSpeakers.wav",
                                             "volume menumusic.wav 0",
                                             "volume ending.wav 0",
                                             "play ending.wav"};
  EXPECT_EQ(r.After(), expected);
}

TEST(MainMenu, HSpeaksTheHighScoreAndSpaceWithCClearsItInTheStoreAndInMemory) {
  const std::string stored = StoredHighScore1500();
  MenuRun r(
      "tap H\nsleep 1500\ndown Space\ndown C\nsleep 100\nup C\nup Space\nsleep 400\n"
      "tap H\nsleep 1500\n",
      stored);
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> said = {"play highscoreis.wav",      "play numbers/sn1.wav",
                                         "play numbers/thousand.wav", "play numbers/sn5.wav",
                                         "play numbers/hundred.wav",  "play points.wav"};
  std::vector<std::string> expected = said;
  for (const char* s :
       {"volume menumusic.wav -1000", "store quorvane/settings/highscore 0",
        "store quorvane/settings/difficulty 0", "play clear.wav", "volume menumusic.wav 0"}) {
    expected.push_back(s);
  }
  for (const char* s : {"play highscoreis.wav", "play numbers/sn0.wav", "play points.wav"}) {
    expected.push_back(s);  // memory holds 0 too
  }
  expected.push_back("volume ending.wav 0");
  expected.push_back("play ending.wav");
  EXPECT_EQ(r.After(), expected);
  EXPECT_EQ(r.w->settings.Read("QuorVane", "Settings", "HighScore"), "0");
}

TEST(MainMenu, SendScoreRefusesTheSpeakerCheckSilencesTheMusicAndTheExitItemLeaves) {
  MenuRun r(
      "tap Down\nsleep 400\ntap Return\nsleep 400\ntap Down\nsleep 400\ntap Return\n"
      "sleep 400\ntap Down\nsleep 400\ntap Return\nsleep 400\n");
  ASSERT_EQ(r.status, 0);
  auto after = r.After();
  auto has = [&](const std::vector<std::string>& run) {
    return std::search(after.begin(), after.end(), run.begin(), run.end()) != after.end();
  };
  EXPECT_TRUE(has({"volume menumusic.wav -10000", "play cal.wav", "volume menumusic.wav 0"}));
  EXPECT_TRUE(has({"volume menumusic.wav -1000", "play warning.wav", "volume menumusic.wav 0"}));
  // The exit item releases the music before the goodbye; the Escape that follows is not needed.
  const int release = r.w->Find("release", "menumusic.wav");
  ASSERT_GE(release, 0);
  EXPECT_LT(release, r.w->Find("play", "ending.wav"));
  EXPECT_EQ(r.w->Find("key", "Escape"), -1);
}

TEST(DifficultySelection, WrapsStartsEachGameAtOneAndEscapeGivesAFreshMenu) {
  MenuRun r(
      "tap Return\nwait play difficulty.wav\nsleep 300\ntap Up\nsleep 400\ntap Down\n"
      "sleep 400\ntap Escape\nwait play menuprompt.wav\nsleep 300\ntap Return\n"
      "wait play difficulty.wav\nsleep 300\ntap Return\nwait play launch.wav\n"
      "tap Escape\nwait play menuprompt.wav\nsleep 300\n");
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> diffs;
  for (const std::string& e : r.w->Events({"play"})) {
    if (e.rfind("play diff", 0) == 0) diffs.push_back(e);
  }
  // Up at 1 gives 3, Down at 3 gives 1; the second game was started at 1 without a word.
  EXPECT_EQ(diffs, (std::vector<std::string>{"play difficulty.wav", "play diff3.wav",
                                             "play diff1.wav", "play difficulty.wav"}));
  EXPECT_EQ(r.w->pg.game.state.Difficulty, 1);
  // Each return to the menu starts its music from the beginning under a new prompt.
  const auto positions = r.w->Events({"position"});
  EXPECT_EQ(std::count(positions.begin(), positions.end(), "position menumusic.wav"), 3);
  EXPECT_EQ(r.w->pg.menu.MenuItem, 0);
}

// The send item refuses, with the warning and without a transfer, a stored score that does not
// read back as a number above 0: one damaged by hand, or one that another copy of the game has
// cleared while this one runs (its memory still holds 1500).
TEST(MainMenu, SendScoreRefusesAStoredScoreThatIsNoNumberAboveZero) {
  const std::string cleared = "[quorvane/settings]\nhighscore=0\ndifficulty=0\n";
  for (const bool by_another_copy : {false, true}) {
    SCOPED_TRACE(by_another_copy ? "cleared by another copy" : "damaged");
    TempDir d;
    const std::string path = d / "settings.ini";
    std::ofstream(path) << (by_another_copy ? StoredHighScore1500()
                                            : "[QuorVane/Settings]\nHighScore=" +
                                                  ScrambleWithKey("1500 points", 3) + "\n");
    SimOptions o = WithScript(
        "wait play menuprompt.wav\nsleep 300\ntap Down\nsleep 400\n"
        "tap Down\nsleep 400\ntap Return\nsleep 400\ntap Escape\n");
    o.settings_path = path;
    World w(o);
    if (by_another_copy) {
      w.machine.SetTurnHook([&] {
        w.driver.Turn();
        if (w.machine.Elapsed() == 1) std::ofstream(path) << cleared;
      });
    }
    ASSERT_EQ(w.Run(), 0);
    EXPECT_EQ(w.pg.settings.HighScore, 1500);
    EXPECT_EQ(w.Events({"http"}), std::vector<std::string>{});
    EXPECT_GE(w.Find("play", "warning.wav"), 0);
    EXPECT_EQ(w.Find("play", "Sendwait.wav"), -1);
  }
}

TEST(MainMenu, BOpensTheBonusRoundOnlyOnceAGameHasBeenWon) {
  MenuRun locked("tap B\nsleep 500\n");
  ASSERT_EQ(locked.status, 0);
  EXPECT_EQ(locked.After(), (std::vector<std::string>{"volume ending.wav 0", "play ending.wav"}));
  MenuRun open(
      "tap B\nwait play go.wav\nsleep 100\ntap Escape\nwait play menuprompt.wav\nsleep 300\n",
      "[QuorVane/Settings]\nba=7\n");
  ASSERT_EQ(open.status, 0);
  EXPECT_GE(open.w->Find("play", "bonuswelcome.wav"), 0);
  EXPECT_GE(open.w->Find("stop", "menumusic.wav"), 0);
}

TEST(MainMenu, ASentHighScoreComesBackToAFreshMenuAndIsNotOfferedAgain) {
  const std::string stored = StoredHighScore1500();
  MenuRun r(
      "tap Down\nsleep 400\ntap Down\nsleep 400\ntap Return\nwait play menuprompt.wav\n"
      "sleep 300\ntap Down\nsleep 400\ntap Down\nsleep 400\ntap Return\nsleep 400\n",
      stored);
  ASSERT_EQ(r.status, 0);
  const auto after = r.After();
  const std::vector<std::string> sent = {"play Sendwait.wav", "play SendGood.wav",
                                         "store quorvane/settings/qv 1"};
  EXPECT_NE(std::search(after.begin(), after.end(), sent.begin(), sent.end()), after.end());
  EXPECT_GE(r.w->Find("play", "warning.wav"), r.w->Find("play", "SendGood.wav"));
  EXPECT_TRUE(r.w->pg.settings.ScoreSent);
}

// The simulator's bot wins a game, then plays the bonus round: the final score it hears is its
// hits less its misses, never below 0, and the stored high score stays the game's, even after
// the save at exit.
TEST(WholeSession, AWonGameThenTheBonusRoundScoresHitsLessMisses) {
  TempDir d;
  SimOptions o = WithScript(
      "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\n"
      "tap Return\nwait play win.wav\nwait play menuprompt.wav\nsleep 300\ntap B\n"
      "wait play go.wav\nwait play menuprompt.wav\nsleep 300\ntap Escape\n");
  o.bot_ms = 200;
  o.settings_path = d / "settings.ini";
  World w(o);
  ASSERT_EQ(w.Run(), 0);
  const int welcome = w.Find("play", "bonuswelcome.wav");
  ASSERT_GE(welcome, 0);
  int score = 0;
  size_t final_at = 0;
  for (size_t i = static_cast<size_t>(welcome); i < w.Log().size(); ++i) {
    const LogEntry& e = w.Log()[i];
    if (e.op != "play") continue;
    if (e.subject == "bonushit.wav") ++score;
    if (e.subject == "bonusmiss.wav") score = std::max(0, score - 1);
    if (e.subject == "final.wav") final_at = i;
  }
  ASSERT_GT(final_at, 0u);
  EXPECT_GT(score, 11);
  EXPECT_EQ(w.pg.game.state.Score, score);
  // The words spoken after "final.wav" are those of that score.
  World speaker;
  speaker.machine.ShowWindow();
  LoadSoundBank(speaker.pg.audio);
  const size_t from = speaker.Log().size();
  SpeakNumber(speaker.pg.audio, score);
  std::vector<std::string> expected, heard;
  for (size_t i = from; i < speaker.Log().size(); ++i) {
    if (speaker.Log()[i].op == "play") expected.push_back(speaker.Log()[i].subject);
  }
  for (size_t i = final_at + 1; i < w.Log().size(); ++i) {
    const LogEntry& e = w.Log()[i];
    if (e.op == "play" && e.subject == "points.wav") break;
    if (e.op == "play") heard.push_back(e.subject);
  }
  EXPECT_EQ(heard, expected);
  // The game's high score survives the round and the save at exit.
  EXPECT_EQ(Unscramble(w.settings.Read("QuorVane", "Settings", "HighScore").value_or("")),
            std::to_string(w.pg.settings.HighScore));
  EXPECT_GT(w.pg.settings.HighScore, 100000);
}

}  // namespace
}  // namespace qv::test

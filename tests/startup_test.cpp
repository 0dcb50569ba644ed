// startup_test.cpp -- start-up and exit on the virtual machine, checked on the sound log.
#include "startup/startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/window_events.h"
#include "store/scramble.h"
#include "support.h"

namespace qv::test {
namespace {

std::vector<std::string> Loads(const World& w) { return w.Events({"load"}); }

// Index of the first log entry with this op and file; fails the test when there is none, so an
// ordering check can never pass on a missing event.
int Must(const World& w, const std::string& op, const std::string& file) {
  int i = w.Find(op, file);
  EXPECT_GE(i, 0) << "no " << op << " " << file;
  return i;
}

TEST(StartUp, LoadsTheBankInOrderThenIntroducesAndExitsOnEscape) {
  World w(WithScript("wait play menuprompt.wav\ntap Escape\n"));
  ASSERT_EQ(w.Run(), 0);

  std::vector<std::string> expected;
  for (const std::string& f : kBankFiles) expected.push_back("load " + f);
  for (const char* f : {"empty.wav", "intro.wav", "menuprompt.wav", "ending.wav"}) {
    expected.push_back(std::string("load ") + f);
  }
  EXPECT_EQ(Loads(w), expected);
  // Bank buffers are numbered 1..16 in load order; nothing plays while the bank loads.
  for (int i = 0; i < 16; ++i) EXPECT_EQ(w.Log().at(static_cast<size_t>(i)).id, i + 1);
  EXPECT_EQ(w.Events({"play"}),
            (std::vector<std::string>{"play empty.wav", "play intro.wav", "play menumusic.wav",
                                      "play menuprompt.wav", "play ending.wav"}));
  // The menu music loops from its beginning, and is released before the goodbye.
  int music = w.Find("play", "menumusic.wav");
  EXPECT_EQ(w.Log().at(static_cast<size_t>(music)).value, "loop");
  EXPECT_EQ(w.Log().at(static_cast<size_t>(music) - 1).op, "position");
  int ending = Must(w, "load", "ending.wav");
  EXPECT_LT(Must(w, "release", "menumusic.wav"), ending);
  // The exit stops the level music and the launch sound, and stores nothing.
  EXPECT_EQ(w.Events({"store"}), std::vector<std::string>{});
  for (const char* f : {"level1.wav", "level2.wav", "launch.wav"}) {
    EXPECT_LT(Must(w, "stop", f), ending) << f;
  }
  EXPECT_EQ(w.Log().back().op, "exit");
  EXPECT_EQ(w.Log().back().value, "0");
}

TEST(StartUp, IntroductionPlaysToItsEndWhenNoKeyIsPressed) {
  World w(WithScript("wait play menuprompt.wav\nsleep 1000\ntap Escape\n"));
  ASSERT_EQ(w.Run(), 0);
  const auto& log = w.Log();
  auto intro_play = log.at(static_cast<size_t>(w.Find("play", "intro.wav"))).ms;
  auto intro_stop = log.at(static_cast<size_t>(w.Find("stop", "intro.wav"))).ms;
  EXPECT_EQ(intro_stop - intro_play, 5000u);  // 5 s at 22050 frames a second, 1 ms a pass
  // "empty.wav" starts at once: no key has been read yet.
  EXPECT_EQ(log.at(static_cast<size_t>(w.Find("play", "empty.wav"))).ms, 0u);
}

TEST(StartUp, SpaceHeldAtStartCutsEmptyThenIntroWaitsForReleaseAndANewPress) {
  World w(
      WithScript("down Space\nsleep 1000\nup Space\nsleep 500\ntap Space\n"
                 "wait play menuprompt.wav\ntap Escape\n"));
  ASSERT_EQ(w.Run(), 0);
  const auto& log = w.Log();
  auto at = [&](const char* op, const char* file) {
    int i = w.Find(op, file);
    EXPECT_GE(i, 0) << op << " " << file;
    return i < 0 ? 0u : log.at(static_cast<size_t>(i)).ms;
  };
  EXPECT_EQ(at("play", "empty.wav"), 0u);
  // The first poll only acquires the keyboard; the second sees Space and cuts the sound.
  EXPECT_EQ(at("stop", "empty.wav"), 2u);
  // The introduction is not even loaded while Space is still held from the last skip.
  EXPECT_GE(at("load", "intro.wav"), 1000u);
  EXPECT_LE(at("play", "intro.wav"), 1002u);
  // The new press at 1500 cuts it long before its 5 s end.
  EXPECT_GE(at("stop", "intro.wav"), 1500u);
  EXPECT_LE(at("stop", "intro.wav"), 1502u);
}

TEST(StartUp, ClosingTheWindowDuringTheIntroductionSavesNothingAndSaysNoGoodbye) {
  World w(WithScript("wait play intro.wav\nsleep 100\nclose\n"));
  w.pg.game.state.NewHighScore = true;  // something that ExitGame would store
  w.pg.game.state.Score = 1500;
  ASSERT_EQ(w.Run(), 0);
  EXPECT_EQ(w.Find("store", "QuorVane/Settings/HighScore"), -1);
  EXPECT_EQ(w.Find("load", "ending.wav"), -1);
  EXPECT_EQ(w.Log().back().op, "exit");
  EXPECT_EQ(w.Log().back().ms,
            w.Log().at(static_cast<size_t>(w.Find("play", "intro.wav"))).ms + 101);
}

// A finished game stored its better score when it ended; what it leaves in memory is not
// stored again at the exit, which could bring back a high score cleared since.
TEST(StartUp, EscapeAtThePromptStoresNothingOfALastGameAndAStoredScoreIsReadBack) {
  TempDir settings_dir;
  std::ofstream(settings_dir / "settings.ini") << HighScoreFile("1500", 2);
  SimOptions o = WithScript("wait play menuprompt.wav\ntap Escape\n");
  o.settings_path = settings_dir / "settings.ini";
  World w(o);
  w.pg.game.state.NewHighScore = true;
  w.pg.game.state.Score = 5000;
  w.pg.game.state.Difficulty = 3;
  ASSERT_EQ(w.Run(), 0);
  EXPECT_EQ(w.Events({"store"}), std::vector<std::string>{});
  EXPECT_EQ(w.pg.settings.HighScore, 1500);
  EXPECT_FALSE(w.pg.settings.ScoreSent);
  // The level music and the launch sound are stopped before the goodbye.
  EXPECT_LT(Must(w, "stop", "level1.wav"), Must(w, "load", "ending.wav"));
  EXPECT_LT(Must(w, "stop", "launch.wav"), Must(w, "load", "ending.wav"));
}

// A settings file that cannot be read (here a folder in its place) or is far too large is
// reported at start-up, before the bank loads; the game then plays on, stores nothing, and
// leaves the file as it was.
TEST(StartUp, AnUnusableSettingsFileIsReportedAtOnceAndLeftAlone) {
  for (const bool folder : {true, false}) {
    SCOPED_TRACE(folder ? "a folder" : "2 MB");
    TempDir d;
    const std::string path = d / "settings.ini";
    const std::string big = HighScoreFile("1500", 2) + std::string(2 << 20, '\n');
    if (folder) {
      std::filesystem::create_directory(path);
    } else {
      std::ofstream(path) << big;
    }
    // Space+C and a game's new high score would each store.
    SimOptions o = WithScript(
        "wait play menuprompt.wav\nsleep 300\ndown Space\ndown C\nsleep 100\nup C\n"
        "up Space\nsleep 400\ntap Return\nwait play difficulty.wav\nsleep 300\ntap Return\n"
        "wait play glass.wav\nsleep 100\ntap Escape\nwait play menuprompt.wav\ntap Escape\n");
    o.settings_path = path;
    o.bot_ms = 200;
    World w(o);
    ASSERT_EQ(w.Run(), 0);
    ASSERT_EQ(w.Log().at(0).op, "message");
    EXPECT_NE(w.Log()[0].subject.find(path), std::string::npos) << w.Log()[0].subject;
    EXPECT_NE(w.Log()[0].subject.find("plays on"), std::string::npos) << w.Log()[0].subject;
    EXPECT_EQ(w.Log().at(1).subject, kBankFiles[0]);
    EXPECT_EQ(w.Events({"store"}), std::vector<std::string>{});
    EXPECT_EQ(w.pg.settings.HighScore, 1300);  // one hit of this game, in memory only
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.path()),
                            std::filesystem::directory_iterator()),
              1);
    if (folder) {
      EXPECT_TRUE(std::filesystem::is_empty(path));
    } else {
      std::ifstream in(path, std::ios::binary);
      EXPECT_TRUE(std::equal(big.begin(), big.end(), std::istreambuf_iterator<char>(in)));
    }
  }
}

TEST(StartUp, AMissingBankFileEndsWithAnErrorAfterTheFilesBeforeIt) {
  World w;
  std::filesystem::remove(w.opts.sounds_dir + "/BonusLand.wav");
  EXPECT_EQ(w.Run(), 1);
  EXPECT_EQ(Loads(w).size(), 14u);
  EXPECT_EQ(Loads(w).back(), "load BonusMusic.wav");
  EXPECT_TRUE(w.Events({"play"}).empty());
  int msg = w.Find("message", w.Log()[w.Log().size() - 2].subject);
  ASSERT_GE(msg, 0);
  EXPECT_NE(w.Log().at(static_cast<size_t>(msg)).subject.find("BonusLand.wav"), std::string::npos);
  EXPECT_EQ(w.Log().back().value, "1");
}

TEST(StartUp, AnUnreadableIntroductionIsReportedLikeAMissingOne) {
  World w;
  std::ofstream(w.opts.sounds_dir + "/intro.wav") << "not a wave file";
  EXPECT_EQ(w.Run(), 1);
  const LogEntry& msg = w.Log()[w.Log().size() - 2];
  EXPECT_EQ(msg.op, "message");
  EXPECT_NE(msg.subject.find("intro.wav"), std::string::npos);
}

TEST(StartUp, NoSoundDeviceShowsTheDriverMessageBeforeAnySound) {
  SimOptions o;
  o.no_device = true;
  World w(o);
  EXPECT_EQ(w.Run(), 1);
  ASSERT_EQ(w.Log().size(), 2u);
  EXPECT_EQ(w.Log()[0].op, "message");
  EXPECT_EQ(w.Log()[0].subject, kSoundDriverMessage);
  EXPECT_NE(w.Log()[0].subject.find("PipeWire, PulseAudio or ALSA"), std::string::npos);
  EXPECT_EQ(w.Log()[1].op, "exit");
  EXPECT_EQ(w.Log()[1].value, "1");
}

// What start-up makes of the stored values, one world per stored file.
struct StoredCase {
  const char* ini;
  bool score_sent;
  int32_t high_score;
};

class StoredValues : public ::testing::TestWithParam<StoredCase> {};

TEST_P(StoredValues, AreReadAtStartUp) {
  TempDir d;
  std::ofstream(d / "settings.ini") << GetParam().ini;
  SimOptions o = WithScript("wait play menuprompt.wav\ntap Escape\n");
  o.settings_path = d / "settings.ini";
  World w(o);
  ASSERT_EQ(w.Run(), 0);
  EXPECT_EQ(w.pg.settings.ScoreSent, GetParam().score_sent);
  EXPECT_EQ(w.pg.settings.HighScore, GetParam().high_score);
}

// Named by what is stored, so a failure says which case it was.
std::string StoredCaseName(const ::testing::TestParamInfo<StoredCase>& info) {
  static const char* const kNames[] = {"Empty",       "SentAndScrambled1500", "ClearedStore",
                                       "SentAsTwo",   "NotNumbers",           "UnscrambledDigits",
                                       "BinaryDamage"};
  return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredValues,
    ::testing::Values(StoredCase{"", false, 0},
                      StoredCase{"[QUORVANE/SETTINGS]\nqv=1\nhighscore=3438303333\n", true, 1500},
                      StoredCase{"[quorvane/settings]\nqv=0\nHighScore=0\n", false, 0},
                      StoredCase{"[quorvane/settings]\nqv=2\n", true, 0},
                      StoredCase{"[quorvane/settings]\nqv=yes\nHighScore=zz\n", false, 0},
                      StoredCase{"[quorvane/settings]\nHighScore=0000100000\n", false, 0},
                      StoredCase{"\x01\x02garbage\0\n[[[\n=\n", false, 0}),
    StoredCaseName);

TEST(Timer1, TicksEvery500msOnlyWhileEnabled) {
  World w;
  w.machine.ShowWindow();
  for (int i = 0; i < 2000; ++i) DoEvents(w.pg.window);
  EXPECT_EQ(w.pg.window.TimerTicks, 0);
  w.machine.SetTimerEnabled(true);
  for (int i = 0; i < 1600; ++i) DoEvents(w.pg.window);
  EXPECT_EQ(w.pg.window.TimerTicks, 3);
  w.machine.SetTimerEnabled(false);
  for (int i = 0; i < 2000; ++i) DoEvents(w.pg.window);
  EXPECT_EQ(w.pg.window.TimerTicks, 3);
  EXPECT_EQ(w.Events({"timer"}), (std::vector<std::string>{"timer Timer1", "timer Timer1"}));
}

}  // namespace
}  // namespace qv::test

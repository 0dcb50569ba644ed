// close_anywhere_test.cpp -- the window closed at 200 random moments of a whole session (the
// introduction, menus, the difficulty selection, a game the bot wins, the bonus round and a
// score submission that waits for its time-out): every run ends with status 0 in the pass of
// the close, and the settings file holds exactly what was stored before it.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "support.h"

namespace qv::test {
namespace {

const char* const kSession =
    "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\ntap Return\n"
    "wait play win.wav\nwait play menuprompt.wav\nsleep 300\ntap B\nwait play go.wav\n"
    "wait play final.wav\nwait play menuprompt.wav\nsleep 300\ntap Down\nsleep 300\n"
    "tap Down\nsleep 300\ntap Return\nwait play senderror.wav\nsleep 2000\ntap Escape\n";

// One sound set for all the runs.
const std::string& Sounds() {
  static TempDir dir;
  static const std::string sounds = [] {
    WriteSoundSet(dir / "sounds");
    return dir / "sounds";
  }();
  return sounds;
}

struct Session {
  explicit Session(int close_at) {
    SimOptions o = WithScript(kSession);
    o.sounds_dir = Sounds();
    o.bot_ms = 200;
    o.http_delay_ms = -1;  // the server never answers: the wait runs to its time-out
    o.settings_path = settings / "settings.ini";
    w = std::make_unique<World>(o, false);
    if (close_at >= 0) {
      w->machine.SetTurnHook([this, close_at] {
        w->driver.Turn();
        if (static_cast<int>(w->machine.Elapsed()) == close_at) w->machine.RequestClose();
      });
    }
    status = w->Run();
  }
  TempDir settings;
  std::unique_ptr<World> w;
  int status = 0;
};

TEST(CloseAnywhere, EndsInThePassOfTheCloseWithTheSettingsAsLastStored) {
  Session whole(-1);
  ASSERT_EQ(whole.status, 0);
  const auto session_ms = static_cast<int>(whole.w->Log().back().ms);
  ASSERT_GT(session_ms, 100000);
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int> moment(1, session_ms - 1);
  std::map<std::string, int> where;  // closes per screen
  for (int i = 0; i < 200; ++i) {
    const int close_at = moment(rng);
    SCOPED_TRACE("closed at " + std::to_string(close_at));
    Session r(close_at);
    ASSERT_EQ(r.status, 0);
    const LogEntry& last = r.w->Log().back();
    EXPECT_EQ(last.op, "exit");
    EXPECT_EQ(last.ms, static_cast<uint32_t>(close_at));
    EXPECT_EQ(r.w->Find("play", "ending.wav"), -1);
    // Every entry holds the last value stored before the close, read back from the file.
    std::map<std::string, std::string> stored;
    for (const LogEntry& e : r.w->Log()) {
      if (e.op == "store") stored[e.subject] = e.value;
    }
    IniStore file(r.settings / "settings.ini");
    for (const auto& [entry, value] : stored) {
      const size_t a = entry.find('/'), b = entry.rfind('/');
      EXPECT_EQ(file.Read(entry.substr(0, a), entry.substr(a + 1, b - a - 1), entry.substr(b + 1)),
                value)
          << entry;
    }
    std::string screen = "introduction";
    for (const LogEntry& e : r.w->Log()) {
      if (e.op != "play") continue;
      if (e.subject == "menuprompt.wav") screen = "menu";
      if (e.subject == "difficulty.wav") screen = "difficulty";
      if (e.subject == "siren.wav") screen = "game";
      if (e.subject == "bonuswelcome.wav") screen = "bonus";
      if (e.subject == "Sendwait.wav") screen = "submission";
    }
    ++where[screen];
  }
  // The moments fell across the whole session.
  for (const char* screen : {"game", "bonus", "submission"}) {
    EXPECT_GT(where[screen], 0) << screen;
  }
}

}  // namespace
}  // namespace qv::test

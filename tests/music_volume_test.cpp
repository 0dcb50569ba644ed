// music_volume_test.cpp -- the player's music level and mute on the virtual machine: Page Up,
// Page Down and M in the menus, a game and the bonus round, under the menus' ducking, kept in the
// settings file across a restart, and a damaged entry read as the default.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support.h"

namespace qv::test {
namespace {

const char* const kMusic[] = {"menumusic.wav", "level1.wav", "level2.wav", "BonusMusic.wav"};

// A run from start-up with a script, over a settings file that holds `ini` at the start.
struct MusicRun {
  MusicRun(const std::string& script, const std::string& ini, const std::string& file) {
    if (!ini.empty()) std::ofstream(file) << ini;
    SimOptions o = WithScript(script);
    o.settings_path = file;
    w = std::make_unique<World>(o);
    status = w->Run();
  }
  // "file value" of each volume set on the file, in order.
  std::vector<std::string> Volumes(const std::string& file) const {
    std::vector<std::string> out;
    for (const LogEntry& e : w->Log()) {
      if (e.op == "volume" && e.subject == file) out.push_back(e.value);
    }
    return out;
  }
  // The first volume set on the file after `after` first plays.
  std::string FirstVolumeAfter(const std::string& file, const std::string& after) const {
    const int i = w->Find("volume", file, static_cast<size_t>(std::max(0, w->Find("play", after))));
    return i < 0 ? "<none>" : w->Log()[static_cast<size_t>(i)].value;
  }
  std::string Stored(const char* key) const {
    return w->settings.Read("QuorVane", "Settings", key).value_or("<none>");
  }
  std::unique_ptr<World> w;
  int status = 0;
};

TEST(MusicVolume, MenuKeysStepMuteDuckFromTheLevelAndSurviveARestart) {
  TempDir d;
  const std::string file = d / "settings.ini";
  {
    // Down twice (-6 dB), an item spoken over the ducked music, mute and back, up once, and
    // Page Up at the top changes nothing.
    MusicRun r(
        "wait play menuprompt.wav\nsleep 300\ntap PageDown\nsleep 50\ntap PageDown\nsleep 50\n"
        "tap Down\nsleep 400\ntap M\nsleep 50\ntap M\nsleep 50\ntap PageUp\nsleep 50\n"
        "tap Escape\n",
        "", file);
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> menu = {"-300",   "-600", "-1600", "-600",
                                           "-10000", "-600", "-300"};
    EXPECT_EQ(r.Volumes("menumusic.wav"), menu);
    // Every track follows, not only the one playing.
    for (const char* track : {"level1.wav", "level2.wav", "BonusMusic.wav"}) {
      const std::vector<std::string> level = {"-300", "-600", "-10000", "-600", "-300"};
      EXPECT_EQ(r.Volumes(track), level) << track;
    }
    EXPECT_EQ(r.Stored("MusicVolume"), "-300");
    EXPECT_EQ(r.Stored("MusicMuted"), "0");
  }
  {
    // The next start sets every track to the stored level before the menu music plays; Page
    // Down eleven times more stops at -30 dB, and a volume key brings a muted music back.
    MusicRun r(
        "wait play menuprompt.wav\nsleep 300\n" +
            [] {
              std::string s;
              for (int i = 0; i < 11; ++i) s += "tap PageDown\nsleep 50\n";
              return s;
            }() +
            "tap M\nsleep 50\ntap PageUp\nsleep 50\ntap Escape\n",
        "", file);
    ASSERT_EQ(r.status, 0);
    const std::vector<std::string> volumes = r.Volumes("menumusic.wav");
    ASSERT_EQ(volumes.size(), 12u);  // the last two steps down meet the floor
    EXPECT_EQ(volumes.front(), "-300");
    EXPECT_LT(r.w->Find("volume", "menumusic.wav"), r.w->Find("play", "menumusic.wav"));
    EXPECT_EQ(volumes[9], "-3000");
    EXPECT_EQ(volumes[10], "-10000");
    EXPECT_EQ(volumes[11], "-2700");
    EXPECT_EQ(r.Stored("MusicVolume"), "-2700");
  }
}

TEST(MusicVolume, AGameAndTheBonusRoundTakeTheKeysTooAndTheMenuSilenceStaysSilent) {
  TempDir d;
  // A step down while choosing the difficulty; in the game, mute at the first launch, unmute, a
  // step down; then a step down in the bonus round.
  MusicRun r(
      "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\n"
      "tap PageDown\nsleep 50\ntap Return\n"
      "wait play launch.wav\ntap M\nsleep 50\ntap M\nsleep 50\ntap PageDown\nsleep 50\n"
      "tap Escape\nwait play menuprompt.wav\nsleep 300\ntap B\nwait play go.wav\n"
      "tap PageDown\nsleep 50\ntap Escape\nwait play menuprompt.wav\nsleep 300\n"
      "tap Down\nsleep 400\ntap Return\nsleep 400\ntap Escape\n",
      "[QuorVane/Settings]\nba=7\n", d / "settings.ini");
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> level1 = {"-300", "-10000", "-300", "-600", "-900"};
  EXPECT_EQ(r.Volumes("level1.wav"), level1);
  // Each heard where it was pressed: the mute in the game, the last step in the bonus round.
  EXPECT_EQ(r.FirstVolumeAfter("level1.wav", "launch.wav"), "-10000");
  EXPECT_EQ(r.FirstVolumeAfter("BonusMusic.wav", "go.wav"), "-900");
  // The speaker check still silences the music outright, then gives it back at the level.
  const std::vector<std::string> menu = r.Volumes("menumusic.wav");
  ASSERT_GE(menu.size(), 2u);
  EXPECT_EQ(menu[menu.size() - 2], "-10000");
  EXPECT_EQ(menu.back(), "-900");
  EXPECT_EQ(r.Stored("MusicVolume"), "-900");
}

TEST(MusicVolume, DamagedEntriesReadAsFullVolumeNotMuted) {
  TempDir d;
  const std::pair<const char*, const char*> cases[] = {
      {"MusicVolume=loud\nMusicMuted=yes\n", nullptr},
      {"MusicVolume=-3001\nMusicMuted=2\n", nullptr},
      {"MusicVolume=300\nMusicMuted=-1\n", nullptr},
      {"MusicVolume=-450.5\n", nullptr},
      {"MusicVolume= -1500 \n", "-1500"},
      {"MusicVolume=-1500\nMusicMuted=1\n", "-10000"},
  };
  for (const auto& [entries, start_volume] : cases) {
    SCOPED_TRACE(entries);
    MusicRun r("wait play menuprompt.wav\ntap Escape\n",
               std::string("[QuorVane/Settings]\n") + entries, d / "settings.ini");
    ASSERT_EQ(r.status, 0);
    for (const char* track : kMusic) {
      const std::vector<std::string> volumes = r.Volumes(track);
      if (start_volume == nullptr) {
        EXPECT_TRUE(volumes.empty()) << track;
      } else {
        EXPECT_EQ(volumes, std::vector<std::string>{start_volume}) << track;
      }
    }
  }
}

}  // namespace
}  // namespace qv::test

// music_volume_test.cpp -- the player's music level and mute on the virtual machine: Page Up,
// Page Down and M in the menus, a game and the bonus round, under the menus' ducking, kept in the
// settings file across a restart, and a damaged entry read as the default.
#include <gtest/gtest.h>

#include <fstream>

#include "support.h"

namespace qv::test {
namespace {

using Volumes = std::vector<std::string>;

// "tap key" and a short pause, n times.
std::string Taps(const std::string& key, int n = 1) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "tap " + key + "\nsleep 50\n";
  return s;
}

// A run from start-up to a clean exit with a script, over the settings file `file`.
struct MusicRun : World {
  MusicRun(const std::string& script, const std::string& file) : World(WithScript(script, file)) {
    EXPECT_EQ(Run(), 0);
  }
  static SimOptions WithScript(const std::string& script, const std::string& file) {
    SimOptions o = test::WithScript(script);
    o.settings_path = file;
    return o;
  }
  // The value of each volume set on the file, in order; from the first play of `after` on.
  Volumes Of(const std::string& file, const std::string& after = "") const {
    Volumes out;
    for (size_t i = after.empty() ? 0 : static_cast<size_t>(Find("play", after)); i < Log().size();
         ++i) {
      if (Log()[i].op == "volume" && Log()[i].subject == file) out.push_back(Log()[i].value);
    }
    return out;
  }
  std::string Stored(const char* key) {
    return settings.Read("QuorVane", "Settings", key).value_or("<none>");
  }
};

const std::string kAtMenu = "wait play menuprompt.wav\nsleep 300\n";

TEST(MusicVolume, MenuKeysStepMuteDuckFromTheLevelAndSurviveARestart) {
  TempDir d;
  const std::string file = d / "settings.ini";
  {
    // Down twice (-6 dB), an item spoken over the ducked music, mute and back, up once, and
    // Page Up at the top changes nothing.
    MusicRun r(kAtMenu + Taps("PageDown", 2) + "tap Down\nsleep 400\n" + Taps("M", 2) +
                   Taps("PageUp") + "tap Escape\n",
               file);
    EXPECT_EQ(r.Of("menumusic.wav"),
              (Volumes{"-300", "-600", "-1600", "-600", "-10000", "-600", "-300"}));
    // Every track follows, not only the one playing.
    for (const char* track : {"level1.wav", "level2.wav", "BonusMusic.wav"}) {
      EXPECT_EQ(r.Of(track), (Volumes{"-300", "-600", "-10000", "-600", "-300"})) << track;
    }
    EXPECT_EQ(r.Stored("MusicVolume"), "-300");
    EXPECT_EQ(r.Stored("MusicMuted"), "0");
  }
  // The next start sets every track to the stored level before the menu music plays; Page Down
  // eleven times more stops at -30 dB, and a volume key brings a muted music back.
  MusicRun r(kAtMenu + Taps("PageDown", 11) + Taps("M") + Taps("PageUp") + "tap Escape\n", file);
  Volumes expected;
  for (int v = 300; v <= 3000; v += 300) expected.push_back(std::to_string(-v));
  expected.insert(expected.end(), {"-10000", "-2700"});
  EXPECT_EQ(r.Of("menumusic.wav"), expected);  // the last two steps down meet the floor
  EXPECT_LT(r.Find("volume", "menumusic.wav"), r.Find("play", "menumusic.wav"));
  EXPECT_EQ(r.Stored("MusicVolume"), "-2700");
}

TEST(MusicVolume, AGameAndTheBonusRoundTakeTheKeysTooAndTheMenuSilenceStaysSilent) {
  TempDir d;
  // A step down while choosing the difficulty; in the game, mute at the first launch, unmute, a
  // step down; then a step down in the bonus round.
  std::ofstream(d / "settings.ini") << "[QuorVane/Settings]\nba=7\n";
  MusicRun r("wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\n" +
                 Taps("PageDown") + "tap Return\nwait play launch.wav\n" + Taps("M", 2) +
                 Taps("PageDown") + "tap Escape\n" + kAtMenu + "tap B\nwait play go.wav\n" +
                 Taps("PageDown") + "tap Escape\n" + kAtMenu +
                 "tap Down\nsleep 400\ntap Return\nsleep 400\ntap Escape\n",
             d / "settings.ini");
  EXPECT_EQ(r.Of("level1.wav"), (Volumes{"-300", "-10000", "-300", "-600", "-900"}));
  // Each heard where it was pressed: the mute in the game, the last step in the bonus round.
  EXPECT_EQ(r.Of("level1.wav", "launch.wav").at(0), "-10000");
  EXPECT_EQ(r.Of("BonusMusic.wav", "go.wav").at(0), "-900");
  // The speaker check still silences the music outright, then gives it back at the level.
  const Volumes menu = r.Of("menumusic.wav");
  ASSERT_GE(menu.size(), 2u);
  EXPECT_EQ(Volumes(menu.end() - 2, menu.end()), (Volumes{"-10000", "-900"}));
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
    std::ofstream(d / "settings.ini") << "[QuorVane/Settings]\n" << entries;
    MusicRun r("wait play menuprompt.wav\ntap Escape\n", d / "settings.ini");
    for (const char* track : {"menumusic.wav", "level1.wav", "level2.wav", "BonusMusic.wav"}) {
      EXPECT_EQ(r.Of(track), start_volume ? Volumes{start_volume} : Volumes{}) << track;
    }
  }
}

}  // namespace
}  // namespace qv::test

// sound_tour_test.cpp -- the sound tour (F1 in the main menu) on the virtual machine: every game
// sound named and played on its side, any key skipping a stop, Escape leaving for a fresh menu.
#include <gtest/gtest.h>

#include <map>

#include "support.h"

namespace qv::test {
namespace {

// Runs from the menu prompt: F1, then `keys`, then Escape at the menu that follows.
std::unique_ptr<World> Tour(const std::string& keys) {
  auto w =
      std::make_unique<World>(WithScript("wait play menuprompt.wav\nsleep 300\ntap F1\n" + keys +
                                         "wait play menuprompt.wav\nsleep 300\ntap Escape\n"));
  EXPECT_EQ(w->Run(), 0);
  return w;
}

// What plays from F1 until the menu's sounds come back: the tour's words by their file, each
// other sound as "file pan" with the pan it was last given.
std::vector<std::string> TourPlays(const World& w) {
  std::vector<std::string> out;
  std::map<int, std::string> pans;
  for (size_t i = static_cast<size_t>(w.Find("key", "F1")); i < w.Log().size(); ++i) {
    const LogEntry& e = w.Log()[i];
    if (e.op == "pan") pans[e.id] = e.value;
    if (e.op != "play") continue;
    if (e.subject == "menumusic.wav" || e.subject == "menuprompt.wav") break;
    const std::string pan = pans.contains(e.id) ? pans.at(e.id) : "0";
    out.push_back(e.subject.starts_with("tour/") ? e.subject : e.subject + " " + pan);
  }
  return out;
}

TEST(SoundTour, NamesEveryGameSoundThenPlaysItOnItsSideAndEndsAtAFreshMenu) {
  auto w = Tour("");
  const std::vector<std::string> heard = TourPlays(*w);
  std::vector<std::string> sounds;  // each right after words naming it
  for (size_t i = 0; i < heard.size(); ++i) {
    if (heard[i].starts_with("tour/")) continue;
    EXPECT_TRUE(i > 0 && heard[i - 1].starts_with("tour/")) << heard[i];
    sounds.push_back(heard[i]);
  }
  const std::vector<std::string> expected = {
      "siren.wav 0",     "launch.wav -10000",   "launch.wav 0",   "launch.wav 10000",
      "gun.wav 0",       "glass.wav 0",         "land.wav 0",     "locked.wav 0",
      "warning.wav 0",   "empty.wav 0",         "recharge.wav 0", "bonusFall.wav -10000",
      "bonusFall.wav 0", "bonusFall.wav 10000", "bonushit.wav 0", "bonusmiss.wav 0",
      "BonusLand.wav 0"};
  EXPECT_EQ(sounds, expected);
  // The menu music stops for the tour and the menu starts afresh after it.
  const int stop = w->Find("stop", "menumusic.wav", static_cast<size_t>(w->Find("key", "F1")));
  ASSERT_GE(stop, 0);
  EXPECT_LT(stop, w->Find("play", "tour/welcome.wav"));
  const int rewind = w->Find("position", "menumusic.wav", static_cast<size_t>(stop));
  EXPECT_GT(rewind, w->Find("play", "tour/end.wav"));
  EXPECT_LT(rewind, w->Find("play", "menuprompt.wav", static_cast<size_t>(stop)));
}

TEST(SoundTour, AnyKeySkipsToTheNextStopAndEscapeLeavesAtOnce) {
  // Space during the first words; Return during the siren's words, so the siren is not played;
  // Space during the first launch; Escape during the next words.
  auto w = Tour(
      "wait play tour/welcome.wav\ntap Space\nwait play tour/siren.wav\ntap Return\n"
      "wait play launch.wav\ntap Space\nwait play tour/launch_centre.wav\ntap Escape\n");
  const std::vector<std::string> expected = {
      "tour/welcome.wav",     "tour/menu_keys.wav",  "tour/game_keys.wav",
      "tour/music_keys.wav",  "tour/controller.wav", "tour/siren.wav",
      "tour/launch_left.wav", "launch.wav -10000",   "tour/launch_centre.wav"};
  EXPECT_EQ(TourPlays(*w), expected);
  // Each skip cut its sound short: stopped within the tap's press, 200 ms being its length.
  const std::vector<LogEntry>& log = w->Log();
  for (const char* cut : {"tour/welcome.wav", "tour/siren.wav", "launch.wav"}) {
    const int play = w->Find("play", cut);
    const int stop = w->Find("stop", cut, static_cast<size_t>(play));
    ASSERT_GE(stop, 0) << cut;
    EXPECT_LT(log[static_cast<size_t>(stop)].ms - log[static_cast<size_t>(play)].ms, 150u) << cut;
  }
  EXPECT_GT(w->Find("play", "menuprompt.wav", static_cast<size_t>(w->Find("key", "F1"))), 0);
}

}  // namespace
}  // namespace qv::test

// sound_test.cpp -- the players and buffer helpers on the virtual machine.
#include <gtest/gtest.h>

#include "core/window_events.h"
#include "game/bonus_round.h"
#include "sound/players.h"
#include "sound/sound_bank.h"
#include "support.h"

namespace qv::test {
namespace {

struct Players : ::testing::Test {
  Players() {
    w.machine.ShowWindow();
    w.machine.CreateKeyboard();
  }
  // Runs the window system for ms passes, polling the keyboard as a loop would.
  void Pass(int ms) {
    for (int i = 0; i < ms; ++i) DoEvents(w.pg.window);
  }
  World w;
};

TEST_F(Players, ASecondOneShotSoundCutsOffTheFirstOnceItIsLoaded) {
  PlaySound(w.pg.audio, "clear.wav", false);
  BufferId first = w.pg.audio.OneShotBuffer;
  Pass(50);
  PlaySound(w.pg.audio, "points.wav", false);
  EXPECT_EQ(w.machine.FindBuffer(first), nullptr);
  EXPECT_EQ(w.Events(), (std::vector<std::string>{
                            "load clear.wav", "pan clear.wav", "play clear.wav", "load points.wav",
                            "release clear.wav", "pan points.wav", "play points.wav"}));
  const auto* second = w.machine.FindBuffer(w.pg.audio.OneShotBuffer);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->playing);
  EXPECT_EQ(second->pan, 0);     // every one-shot sound is centred
  EXPECT_EQ(second->volume, 0);  // the one-shot player never sets the volume
}

TEST_F(Players, AFailedOneShotLoadKeepsThePreviousSound) {
  PlaySound(w.pg.audio, "clear.wav", false);
  BufferId first = w.pg.audio.OneShotBuffer;
  EXPECT_THROW(PlaySound(w.pg.audio, "missing.wav", false), PlatformError);
  EXPECT_EQ(w.pg.audio.OneShotBuffer, first);
  EXPECT_TRUE(w.machine.FindBuffer(first)->playing);
}

TEST_F(Players, OneShotWaitEndsWithTheSoundAndIgnoresKeys) {
  w.machine.SetKey(kKeyEscape, true);
  uint32_t start = w.machine.Now();
  PlaySound(w.pg.audio, "clear.wav", true);  // 200 ms
  EXPECT_EQ(w.machine.Now() - start, 200u);
  EXPECT_FALSE(KeyDown(w.pg.keyboard, kKeyEscape));  // not polled while waiting
}

TEST_F(Players, OneShotSoundGoesOnUnderAnInterruptiblePlayer) {
  PlaySound(w.pg.audio, "clear.wav", false);
  BufferId one_shot = w.pg.audio.OneShotBuffer;
  Pass(10);
  PlayAndWait(w.pg.audio, "points.wav");
  EXPECT_EQ(w.pg.audio.OneShotBuffer, one_shot);
  EXPECT_EQ(w.Find("release", "clear.wav"), -1);
  // Both were playing together: the one-shot's 200 ms end fell inside the other's play.
  EXPECT_EQ(w.Find("stop", "clear.wav"), -1);
  EXPECT_FALSE(w.machine.FindBuffer(one_shot)->playing);
}

TEST(InterruptiblePlayer, LeftCtrlCutsItShortAndTheNextWaitsForTheRelease) {
  World w(WithScript("sleep 100\ntap LeftCtrl 50\n"));
  w.machine.ShowWindow();
  w.machine.CreateKeyboard();
  PlaySound(w.pg.audio, "points.wav", false);  // a one-shot sound is not touched by the player
  PlayAndWait(w.pg.audio, "intro.wav");        // 5 s long
  EXPECT_EQ(w.machine.Now(), 100u);            // stopped in the pass that saw the key
  const auto& log = w.Log();
  int load = w.Find("load", "intro.wav");
  EXPECT_EQ(log.at(static_cast<size_t>(load) + 1).op, "volume");
  EXPECT_EQ(log.at(static_cast<size_t>(load) + 1).value, "0");
  EXPECT_GE(w.Find("release", "intro.wav"), 0);
  EXPECT_EQ(w.Find("release", "points.wav"), -1);

  PlayAndWait(w.pg.audio, "ending.wav");  // Left Ctrl is held until 150: nothing before that
  EXPECT_GE(log.at(static_cast<size_t>(w.Find("load", "ending.wav"))).ms, 150u);
  EXPECT_EQ(w.machine.Now(), 350u);  // then it plays its 200 ms to the end
}

TEST_F(Players, StopKeepsThePositionAndRewindStartsAgain) {
  LoadSoundBank(w.pg.audio);
  BufferId music = w.pg.audio.bank.Music[0];
  w.machine.Play(music, kPlayLooping);
  Pass(150);
  StopSound(w.pg.audio, music);
  double stopped_at = w.machine.FindBuffer(music)->position();
  EXPECT_NEAR(stopped_at, 150 * 22.05, 1e-6);
  Pass(100);
  EXPECT_EQ(w.machine.FindBuffer(music)->position(), stopped_at);
  w.machine.Play(music, kPlayLooping);
  Pass(10);
  EXPECT_NEAR(w.machine.FindBuffer(music)->position(), 160 * 22.05, 1e-6);
  EXPECT_EQ(w.machine.GetStatus(music), kStatusPlaying | kStatusLooping);
  w.machine.Stop(music);
  w.machine.SetCurrentPosition(music, 0);
  EXPECT_EQ(w.machine.FindBuffer(music)->position(), 0);

  BufferId none = 0;
  StopSound(w.pg.audio, none);  // an empty variable: nothing happens, nothing is logged
  StopAndRelease(w.pg.audio, none);
  EXPECT_EQ(w.Find("stop", ""), -1);
  StopAndRelease(w.pg.audio, music);
  EXPECT_EQ(music, 0);
  StopAndRelease(w.pg.audio, w.pg.audio.bank.LaunchSound);
  StopBonusSounds(w.pg.audio);  // the bonus music not playing: three harmless stops
  EXPECT_EQ(w.Events({"stop"}).size(), 7u);
}

TEST_F(Players, AFailedBankLoadLeavesTheVariableEmpty) {
  BufferId b = 0;
  LoadSound(w.pg.audio, b, "clear.wav");
  BufferId old = b;
  EXPECT_THROW(LoadSound(w.pg.audio, b, "nope.wav"), PlatformError);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(w.machine.FindBuffer(old), nullptr);
}

TEST_F(Players, ALaunchAtTheHighestRateStillSoundsThroughAFlight) {
  // Playback advances by the frequency: 200 ms at 22050 Hz lasts ~152 ms at 28999 Hz.
  BufferId b = 0;
  LoadSound(w.pg.audio, b, "launch.wav");
  w.machine.SetFrequency(b, 28999);
  w.machine.Play(b, kPlayOnce);
  int passes = 0;
  while (w.machine.GetStatus(b) == kStatusPlaying) {
    Pass(1);
    ++passes;
  }
  EXPECT_EQ(passes, 153);
  w.machine.Play(b, kPlayOnce);  // an ended buffer starts again from the beginning
  EXPECT_EQ(w.machine.FindBuffer(b)->position(), 0);
}

}  // namespace
}  // namespace qv::test

// real_pump_test.cpp -- the real event pump on a display (a private Xvfb when none is set): a turn
// with nothing due sleeps, yet a key, the loop's deadline and a playing sound's end each end it,
// never before its time and never as late as the second-long cap of a turn with nothing due. How
// promptly they end it is measured by bench/pump_latency.
#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "display.h"
#include "platform/real/machine.h"
#include "support.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The longest a turn of the pump sleeps with nothing due.
constexpr int64_t kTurnCapMs = 1000;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool HaveCommand(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

class RealPumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test::EnsureDisplay()) << "no display, and Xvfb could not be started";
    // A short tone played to the wave writer, which mixes in real time as a device would.
    const fs::path dir = dir_.path();
    setenv("QUORVANE_SOUND_CAPTURE", (dir / "out.wav").c_str(), 1);
    test::WriteWav(dir_ / "tone.wav", 400);
    platform_ = std::make_unique<RealPlatform>(dir.string());
    platform_->system.ShowWindow();
    // No window manager gives the window the keyboard: it takes it.
    SDL_SetWindowInputFocus(platform_->system.Window());
    const auto start = Clock::now();
    while (!platform_->system.HasFocus() && MsSince(start) < 3000) Turn(10);
    ASSERT_TRUE(platform_->system.HasFocus());
    platform_->input.CreateKeyboard();
    ASSERT_TRUE(platform_->input.AcquireKeyboard());
    // Let the window's start-up events go by: until a turn lasts to its deadline.
    for (int i = 0; i < 50; ++i) {
      const auto turn = Clock::now();
      Turn(30);
      if (MsSince(turn) >= 25) break;
    }
  }

  void TearDown() override { platform_.reset(); }

  // One turn of the pump with a deadline `ms` ahead.
  WindowEvents Turn(uint32_t ms) {
    return platform_->system.ProcessEvents(platform_->system.TickCount() + ms);
  }

  test::TempDir dir_;
  std::unique_ptr<RealPlatform> platform_;
};

TEST_F(RealPumpTest, AKeyWakesASleepingPumpAndTheNextReadShowsItDown) {
  ASSERT_TRUE(HaveCommand("xdotool")) << "no xdotool to press a key with";
  Clock::time_point sent;
  std::thread presser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the pump is asleep by now
    sent = Clock::now();
    std::system("xdotool keydown space");
  });
  const auto start = Clock::now();
  Turn(10000);
  const auto woke = Clock::now();
  uint8_t keys[256] = {};
  const KeyRead read = platform_->input.ReadKeyboard(keys);
  presser.join();
  std::system("xdotool keyup space");
  EXPECT_EQ(read, KeyRead::Ok);
  EXPECT_EQ(keys[kKeySpace], 0x80);
  // It slept until the key came, and the key ended it, not the turn's cap: the cap would have
  // ended it a second after it began.
  EXPECT_GE(woke, sent);
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(woke - start).count(),
            kTurnCapMs);
}

TEST_F(RealPumpTest, ATurnEndsAtItsDeadlineNeverBeforeIt) {
  for (const int ahead : {1, 2, 7, 30, 100, 250, -5}) {
    const auto start = Clock::now();
    const uint32_t due = platform_->system.TickCount() + static_cast<uint32_t>(ahead);
    const WindowEvents events = platform_->system.ProcessEvents(due);
    const auto late = static_cast<int32_t>(platform_->system.TickCount() - due);
    EXPECT_FALSE(events.close_requested);
    EXPECT_GE(late, 0) << "a deadline " << ahead << " ms ahead";
    // The deadline ended it, not the cap.
    EXPECT_LT(MsSince(start), kTurnCapMs) << "a deadline " << ahead << " ms ahead";
  }
}

TEST_F(RealPumpTest, AWaitForASoundsEndSleepsUntilItEnds) {
  ASSERT_TRUE(platform_->sound.OpenSoundDevice());
  const BufferId tone = platform_->sound.CreateBuffer("tone.wav");
  platform_->sound.Play(tone, kPlayOnce);
  const auto start = Clock::now();
  int passes = 0;
  // The players' wait: nothing else is due, so only the sound's end can end it early.
  while ((platform_->sound.GetStatus(tone) & kStatusPlaying) != 0 && MsSince(start) < 3000) {
    platform_->system.ProcessEvents(std::nullopt);
    ++passes;
  }
  const int64_t elapsed = MsSince(start);
  EXPECT_GE(elapsed, 300);         // the tone lasts 400 ms, at the pace of real time
  EXPECT_LT(elapsed, kTurnCapMs);  // its end ended the wait, not the cap
  EXPECT_LE(passes, 30);           // it slept rather than spun
}

}  // namespace
}  // namespace qv

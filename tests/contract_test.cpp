// contract_test.cpp -- the behaviours the game relies on, run alike against the virtual backend
// and the real one (a window under a display, its mix captured to a wave file), so the two stay
// in step.
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
#include "platform/sdl_openal/machine.h"
#include "platform/virtual/virtual_platform.h"
#include "support.h"

namespace qv::test {
namespace {

using Clock = std::chrono::steady_clock;

// What a contract test does to a backend, beyond the seam itself.
struct Harness {
  virtual ~Harness() = default;
  virtual Platform Parts() = 0;
  virtual void Tap(int key) = 0;            // press and release within one turn
  virtual void Focus(bool focused) = 0;     // the window gains or loses the foreground
  virtual void RunFor(uint32_t ms) = 0;     // turns of the window system for ms
  virtual uint32_t Position(BufferId) = 0;  // play position in bytes of the file's data
  int timer_ticks = 0;                      // counted by RunFor
};

struct VirtualHarness : Harness {
  explicit VirtualHarness(const std::string& sounds) : machine(Options(sounds)) {}
  static VirtualOptions Options(const std::string& sounds) {
    VirtualOptions o;
    o.sounds_dir = sounds;
    return o;
  }
  Platform Parts() override { return machine.Parts(); }
  void Tap(int key) override {
    machine.SetTurnHook([this, key] {
      machine.SetKey(key, true);
      machine.SetKey(key, false);
    });
    machine.ProcessEvents(std::nullopt);
    machine.SetTurnHook(nullptr);
  }
  void Focus(bool focused) override {
    machine.SetFocus(focused);
    machine.ProcessEvents(std::nullopt);
  }
  void RunFor(uint32_t ms) override {
    for (uint32_t i = 0; i < ms; ++i) timer_ticks += machine.ProcessEvents(std::nullopt).timer_ticks;
  }
  uint32_t Position(BufferId id) override {
    const auto* b = machine.FindBuffer(id);
    return static_cast<uint32_t>(b->position()) * b->bytes_per_frame;
  }
  VirtualPlatform machine;
};

// One real machine for the whole process: SDL's window system does not come back cleanly from
// a shutdown within one process (the old window's keyboard focus lingers).
struct RealHarness : Harness {
  explicit RealHarness(RealPlatform& m) : machine(m) {}
  Platform Parts() override { return machine.Parts(); }
  // xdotool speaks to the X server as a player's keyboard would (XTEST, to the focused window).
  // One turn after the tap: xdotool has sent both events before it returns, so the turn
  // wakes for the press and takes the release with it.
  void Tap(int key) override {
    const char* name = key == kKeySpace ? "space" : key == kKeyLeft ? "Left" : "Return";
    Xdotool(std::string("key ") + name);
    machine.system.ProcessEvents(machine.system.TickCount() + 500);
  }
  void Focus(bool focused) override {
    if (!focused) {
      Xdotool("windowfocus --sync " + RootId());
      RunFor(150);
      return;
    }
    // A window just made may not be mapped yet, and then cannot take the focus: ask again.
    for (int i = 0; i < 50; ++i) {
      SDL_SetWindowInputFocus(machine.system.Window());
      RunFor(20);
      if (machine.system.HasFocus()) break;
    }
  }
  void RunFor(uint32_t ms) override {
    const uint32_t end = machine.system.TickCount() + ms;
    while (static_cast<int32_t>(end - machine.system.TickCount()) > 0) {
      timer_ticks += machine.system.ProcessEvents(end).timer_ticks;
    }
  }
  uint32_t Position(BufferId id) override { return machine.sound.PlayPosition(id); }

  std::string RootId() {
    return Capture("xwininfo -root | awk '/Window id/ { print $4 }'");
  }
  static std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
      char buf[128];
      while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
      pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  static void Xdotool(const std::string& args) {
    ASSERT_EQ(std::system(("xdotool " + args + " >/dev/null 2>&1").c_str()), 0) << args;
  }
  RealPlatform& machine;
};

// Made at the first real test, with its sounds in a folder of its own, writing what it mixes to
// a file instead of a sound card.
RealPlatform& SharedRealMachine(const std::string& tone_dir) {
  static TempDir sounds;
  static RealPlatform machine([&] {
    std::filesystem::copy_file(tone_dir + "/tone.wav", sounds / "tone.wav");
    setenv("QUORVANE_SOUND_CAPTURE", (sounds / "out.wav").c_str(), 1);
    return sounds.path().string();
  }());
  return machine;
}

enum class Backend { Virtual, Real };

class Contract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    WriteWav(dir / "tone.wav", 1000);
    if (GetParam() == Backend::Virtual) {
      h = std::make_unique<VirtualHarness>(dir.path().string());
    } else {
      ASSERT_TRUE(EnsureDisplay()) << "no display, and Xvfb could not be started";
      h = std::make_unique<RealHarness>(SharedRealMachine(dir.path().string()));
    }
    p = std::make_unique<Platform>(h->Parts());
    p->system.ShowWindow();
    ASSERT_TRUE(p->sound.OpenSoundDevice());
    ASSERT_TRUE(p->input.CreateKeyboard());
    h->Focus(true);
    ASSERT_TRUE(p->input.AcquireKeyboard());
  }

  bool Down(int key) {
    uint8_t state[256] = {};
    EXPECT_EQ(p->input.ReadKeyboard(state), KeyRead::Ok);
    return (state[key] & 0x80) != 0;
  }

  TempDir dir;
  std::unique_ptr<Harness> h;
  std::unique_ptr<Platform> p;
};

TEST_P(Contract, ATapWithinOneRoundOfEventsIsSeenByTheNextReadAlone) {
  EXPECT_FALSE(Down(kKeySpace));
  h->Tap(kKeySpace);
  EXPECT_TRUE(Down(kKeySpace));
  h->RunFor(5);
  EXPECT_FALSE(Down(kKeySpace));
}

TEST_P(Contract, AStoppedBufferKeepsItsPositionAndReadsZeroEvenWhenLooping) {
  BufferId id = p->sound.CreateBuffer("tone.wav");
  EXPECT_EQ(p->sound.GetStatus(id), 0);
  p->sound.Play(id, kPlayLooping);
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying | kStatusLooping);
  h->RunFor(300);
  p->sound.Stop(id);
  EXPECT_EQ(p->sound.GetStatus(id), 0);
  const uint32_t stopped_at = h->Position(id);
  EXPECT_GT(stopped_at, 0u);
  h->RunFor(200);
  EXPECT_EQ(h->Position(id), stopped_at);
  p->sound.Play(id, kPlayOnce);  // goes on from there, now played once
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying);
  h->RunFor(100);
  EXPECT_GT(h->Position(id), stopped_at);
  p->sound.Stop(id);
  p->sound.SetCurrentPosition(id, 0);
  EXPECT_EQ(h->Position(id), 0u);
}

TEST_P(Contract, TheTimerTicksEveryPeriodOnlyWhileEnabled) {
  p->system.SetTimerEnabled(true);
  h->RunFor(kTimerPeriodMs * 2 + kTimerPeriodMs / 2);
  EXPECT_EQ(h->timer_ticks, 2);
  p->system.SetTimerEnabled(false);
  h->RunFor(kTimerPeriodMs * 2);
  EXPECT_EQ(h->timer_ticks, 2);
}

TEST_P(Contract, InTheBackgroundReadsFailAndTheKeyboardCannotBeAcquired) {
  uint8_t state[256];
  h->Focus(false);
  const KeyRead first = p->input.ReadKeyboard(state);
  EXPECT_TRUE(first == KeyRead::InputLost || first == KeyRead::NotAcquired);
  EXPECT_EQ(p->input.ReadKeyboard(state), KeyRead::NotAcquired);
  EXPECT_FALSE(p->input.AcquireKeyboard());
  h->Focus(true);
  EXPECT_TRUE(p->input.CreateKeyboard());
  EXPECT_TRUE(p->input.AcquireKeyboard());
  EXPECT_EQ(p->input.ReadKeyboard(state), KeyRead::Ok);
}

INSTANTIATE_TEST_SUITE_P(Backends, Contract, ::testing::Values(Backend::Virtual, Backend::Real),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return std::string(info.param == Backend::Virtual ? "Virtual" : "Real");
                         });

}  // namespace
}  // namespace qv::test

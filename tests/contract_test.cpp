// contract_test.cpp -- the behaviours the game relies on, run alike against the virtual backend
// (its buffers heard through the simulator's render) and the real one (a window under a display,
// its mix captured to a wave file), so the two stay in step.
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "display.h"
#include "http_test_server.h"
#include "platform/real/machine.h"
#include "platform/real/output.h"
#include "platform/virtual/virtual_platform.h"
#include "platform/wave_file.h"
#include "render_file.h"
#include "support.h"

namespace qv::test {
namespace {

// The sounds every case plays: 16-bit mono tones at 22050 Hz, and a loud steady level with a
// small wave on it, faded in over its first 10 ms so that its start is smooth.
void WriteContractSounds(const std::string& dir) {
  WriteWav(dir + "/tone.wav", 1000);
  WriteWav(dir + "/short.wav", 300);
  const int rate = 22050;
  std::vector<int16_t> level(static_cast<size_t>(rate));
  for (size_t i = 0; i < level.size(); ++i) {
    const double fade = std::min(1.0, static_cast<double>(i) / (rate / 100));
    level[i] = static_cast<int16_t>(fade * (8000 + 2000 * std::sin(2 * M_PI * 440 * i / rate)));
  }
  WriteWave(dir + "/level.wav", rate, 1, level.data(), level.size());
  std::filesystem::create_directories(dir + "/numbers");
  std::ofstream(dir + "/numbers/broken.wav") << "RIFF not really";
}

// What a contract test does to a backend, beyond the seam itself.
struct Harness {
  virtual ~Harness() = default;
  virtual Platform Parts() = 0;
  virtual void Tap(int key) = 0;             // press and release within one turn
  virtual void Focus(bool focused) = 0;      // the window gains or loses the foreground
  virtual void RunFor(uint32_t ms) = 0;      // turns of the window system for ms
  virtual uint32_t Position(BufferId) = 0;   // play position in bytes of the file's data
  virtual void Listen() = 0;                 // from now on, keep what the output plays
  virtual std::vector<int16_t> Heard() = 0;  // what it played since: stereo, interleaved
  int timer_ticks = 0;                       // counted by RunFor
};

struct VirtualHarness : Harness {
  explicit VirtualHarness(const std::string& sounds)
      : machine(Options(sounds)), render(machine, sounds, [this](const auto& stems, size_t n) {
          heard.insert(heard.end(), stems[0].begin(), stems[0].begin() + 2 * n);
        }) {}
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
    for (uint32_t i = 0; i < ms; ++i)
      timer_ticks += machine.ProcessEvents(std::nullopt).timer_ticks;
  }
  uint32_t Position(BufferId id) override {
    const auto* b = machine.FindBuffer(id);
    return static_cast<uint32_t>(b->position()) * b->bytes_per_frame;
  }
  void Listen() override { heard.clear(); }
  std::vector<int16_t> Heard() override {
    std::vector<int16_t> out(heard.size());
    std::transform(heard.begin(), heard.end(), out.begin(), [](float v) {
      return static_cast<int16_t>(std::lrint(std::clamp(v, -1.0f, 1.0f) * 32767));
    });
    return out;
  }
  VirtualPlatform machine;
  std::vector<float> heard;
  VirtualRender render;
};

// One real machine for the whole process: SDL's window system does not come back cleanly from
// a shutdown within one process (the window made before keeps the keyboard focus).
struct RealHarness : Harness {
  RealHarness(RealPlatform& m, std::string capture_file)
      : machine(m), capture(std::move(capture_file)) {}
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
  // The capture is written as the output plays, in real time, its header kept up to date.
  // What the output still holds of sounds before (it mixes up to 35 ms ahead, as a device
  // would) plays out first.
  void Listen() override {
    RunFor(kCalmOutputFrames * 1000 / kOutputRate + 15);
    listened_from = ReadWaveFormat(capture).frames;
  }
  std::vector<int16_t> Heard() override {
    const Pcm all = ReadWave(capture);
    const size_t from = std::min(all.frames, listened_from) * 2;
    return std::vector<int16_t>(all.samples.get() + from, all.samples.get() + all.frames * 2);
  }

  std::string RootId() { return Capture("xwininfo -root | awk '/Window id/ { print $4 }'"); }
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
  std::string capture;
  size_t listened_from = 0;
};

// Made at the first real test, with its sounds in a folder of its own, writing what it mixes to
// a file instead of a sound card.
TempDir& RealSounds() {
  static TempDir sounds;
  return sounds;
}
RealPlatform& SharedRealMachine() {
  static RealPlatform machine([] {
    WriteContractSounds(RealSounds().path().string());
    setenv("QUORVANE_SOUND_CAPTURE", (RealSounds() / "out.wav").c_str(), 1);
    return RealSounds().path().string();
  }());
  return machine;
}

// Records what a backend tells its observers, one line an event.
struct Recorder : PlatformObserver {
  void Saw(const PlatformEvent& e) override {
    seen.push_back(std::string(e.op) + " " + std::to_string(e.id) + " " + std::string(e.subject) +
                   " " + std::string(e.value));
  }
  std::vector<std::string> seen;
};

// The loudest sample of each channel.
struct Peaks {
  int left = 0;
  int right = 0;
};
Peaks PeaksOf(const std::vector<int16_t>& stereo) {
  Peaks p;
  for (size_t i = 0; i + 1 < stereo.size(); i += 2) {
    p.left = std::max(p.left, std::abs(static_cast<int>(stereo[i])));
    p.right = std::max(p.right, std::abs(static_cast<int>(stereo[i + 1])));
  }
  return p;
}

enum class Backend { Virtual, Real };

class Contract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::Virtual) {
      sounds = dir.path().string();
      WriteContractSounds(sounds);
      h = std::make_unique<VirtualHarness>(sounds);
    } else {
      ASSERT_TRUE(EnsureDisplay()) << "no display, and Xvfb could not be started";
      sounds = RealSounds().path().string();
      h = std::make_unique<RealHarness>(SharedRealMachine(), RealSounds() / "out.wav");
    }
    p = std::make_unique<Platform>(h->Parts());
    p->system.ShowWindow();
    ASSERT_TRUE(p->sound.OpenSoundDevice());
    ASSERT_TRUE(p->input.CreateKeyboard());
    h->Focus(true);
    ASSERT_TRUE(p->input.AcquireKeyboard());
  }

  // The real machine outlives the case: nothing it made may play on into the next, and it may
  // not tell a recorder that has gone.
  void TearDown() override {
    if (p == nullptr) return;
    p->Unwatch(heard);
    for (BufferId id : made) {
      try {
        p->sound.Release(id);
      } catch (const PlatformError&) {  // the case released it itself
      }
    }
  }

  BufferId Load(const std::string& file) {
    made.push_back(p->sound.CreateBuffer(file));
    return made.back();
  }

  bool Down(int key) {
    uint8_t state[256] = {};
    EXPECT_EQ(p->input.ReadKeyboard(state), KeyRead::Ok);
    return (state[key] & 0x80) != 0;
  }

  // Runs the window system until the buffer stops playing: the time it took, -1 past the limit.
  int MsUntilEnded(BufferId id, uint32_t limit_ms) {
    const uint32_t start = p->system.TickCount();
    while ((p->sound.GetStatus(id) & kStatusPlaying) != 0) {
      if (p->system.TickCount() - start > limit_ms) return -1;
      h->RunFor(1);
    }
    return static_cast<int>(p->system.TickCount() - start);
  }

  // Plays the buffer once to its end and gives the loudest sample of each channel heard.
  Peaks PlayToTheEnd(BufferId id) {
    h->Listen();
    p->sound.Play(id, kPlayOnce);
    EXPECT_GE(MsUntilEnded(id, 2000), 0);
    h->RunFor(60);  // what the output still holds
    return PeaksOf(h->Heard());
  }

  TempDir dir;
  std::string sounds;  // the folder the backend reads its sounds from
  std::unique_ptr<Harness> h;
  std::unique_ptr<Platform> p;
  std::vector<BufferId> made;
  Recorder heard;
};

TEST_P(Contract, ATapWithinOneRoundOfEventsIsSeenByTheNextReadAlone) {
  EXPECT_FALSE(Down(kKeySpace));
  h->Tap(kKeySpace);
  EXPECT_TRUE(Down(kKeySpace));
  h->RunFor(5);
  EXPECT_FALSE(Down(kKeySpace));
}

TEST_P(Contract, AStoppedBufferKeepsItsPositionAndReadsZeroEvenWhenLooping) {
  BufferId id = Load("tone.wav");
  EXPECT_EQ(p->sound.GetStatus(id), 0);
  p->sound.Play(id, kPlayLooping);
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying | kStatusLooping);
  h->RunFor(300);
  p->sound.Stop(id);
  EXPECT_EQ(p->sound.GetStatus(id), 0);
  const uint32_t stopped_at = h->Position(id);
  EXPECT_GT(stopped_at, 2 * 22050 * 200 / 1000u);  // about 300 ms of 16-bit 22050 Hz in
  h->RunFor(200);
  EXPECT_EQ(h->Position(id), stopped_at);
  p->sound.Play(id, kPlayOnce);  // goes on from there, now played once
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying);
  h->RunFor(100);
  const uint32_t playing_at = h->Position(id);
  EXPECT_GT(playing_at, stopped_at);
  p->sound.Play(id, kPlayOnce);  // playing a playing buffer keeps its place
  EXPECT_GE(h->Position(id), playing_at);
  p->sound.Stop(id);
  p->sound.SetCurrentPosition(id, 0);
  EXPECT_EQ(h->Position(id), 0u);
}

TEST_P(Contract, PlayedOnceItEndsAfterItsLengthAtItsFrequencyAndStartsAgainFromTheBeginning) {
  BufferId id = Load("short.wav");
  p->sound.Play(id, kPlayOnce);
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying);
  const int ms = MsUntilEnded(id, 2000);
  EXPECT_GE(ms, 200);
  EXPECT_LE(ms, 800);
  p->sound.Play(id, kPlayOnce);
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying);
  EXPECT_LT(h->Position(id), 22050u);  // restarted, not stuck at the end
  // Looping, it plays past its end; the mode follows the latest Play.
  p->sound.Play(id, kPlayLooping);
  h->RunFor(700);
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying | kStatusLooping);
  p->sound.Play(id, kPlayOnce);
  EXPECT_EQ(p->sound.GetStatus(id), kStatusPlaying);
  EXPECT_GE(MsUntilEnded(id, 2000), 0);
  // Twice the file's rate: a second's tone ends in half a second.
  BufferId tone = Load("tone.wav");
  p->sound.SetFrequency(tone, 44100);
  p->sound.Play(tone, kPlayOnce);
  const int fast = MsUntilEnded(tone, 3000);
  EXPECT_GE(fast, 400);
  EXPECT_LE(fast, 900);
}

TEST_P(Contract, APositionSetWhileNotPlayingHoldsAtTheNextPlay) {
  BufferId id = Load("tone.wav");
  // Never played yet.
  p->sound.SetCurrentPosition(id, 40000);
  p->sound.Play(id, kPlayOnce);
  EXPECT_GE(h->Position(id), 40000u);
  // Paused: the rewind the game does before replaying a cue.
  p->sound.Stop(id);
  p->sound.SetCurrentPosition(id, 0);
  p->sound.Play(id, kPlayOnce);
  EXPECT_LT(h->Position(id), 40000u);
  // Ended: the position set afterwards is where it starts.
  BufferId shorter = Load("short.wav");
  p->sound.Play(shorter, kPlayOnce);
  ASSERT_GE(MsUntilEnded(shorter, 2000), 0);
  p->sound.SetCurrentPosition(shorter, 8000);
  p->sound.Play(shorter, kPlayOnce);
  EXPECT_GE(h->Position(shorter), 8000u);
  // Past the end: at the end, never an error.
  p->sound.SetCurrentPosition(shorter, 1u << 30);
}

// The pan law of the game's units: the near channel keeps the file's level at every pan, the far
// one is silent at the sides; the volume scales both.
TEST_P(Contract, PanAndVolumeSetTheLevelOfEachChannel) {
  const Pcm tone = ReadWave(sounds + "/short.wav");
  int file_peak = 0;
  for (size_t i = 0; i < tone.frames; ++i) {
    file_peak = std::max(file_peak, std::abs(static_cast<int>(tone.samples[i])));
  }
  struct Case {
    int pan;
    bool left_heard, right_heard;
  };
  for (const Case c : {Case{-10000, true, false}, Case{0, true, true}, Case{10000, false, true}}) {
    SCOPED_TRACE(c.pan);
    BufferId id = Load("short.wav");
    p->sound.SetPan(id, c.pan);
    const Peaks peaks = PlayToTheEnd(id);
    EXPECT_NEAR(peaks.left, c.left_heard ? file_peak : 0, file_peak / 30.0);
    EXPECT_NEAR(peaks.right, c.right_heard ? file_peak : 0, file_peak / 30.0);
  }
  // At -20 dB a tenth of the level; at -100 dB nothing that can be heard beside it.
  BufferId quiet = Load("short.wav");
  BufferId silent = Load("short.wav");
  p->sound.SetVolume(quiet, -2000);
  p->sound.SetVolume(silent, -10000);
  p->sound.Play(silent, kPlayOnce);
  const Peaks peaks = PlayToTheEnd(quiet);
  EXPECT_NEAR(peaks.left, file_peak / 10, file_peak / 40);
  EXPECT_NEAR(peaks.right, file_peak / 10, file_peak / 40);
}

// A stop in the middle of a loud sound fades it out over a few ms instead of cutting it: no
// sample-to-sample step in the output comes near the level it stopped at.
TEST_P(Contract, AStopLeavesNoStepInTheOutput) {
  BufferId id = Load("level.wav");
  h->Listen();
  p->sound.Play(id, kPlayOnce);
  h->RunFor(300);
  p->sound.Stop(id);
  h->RunFor(100);
  const std::vector<int16_t> out = h->Heard();
  int peak = 0, step = 0;
  for (size_t i = 2; i < out.size(); ++i) {
    peak = std::max(peak, std::abs(static_cast<int>(out[i])));
    step = std::max(step, std::abs(out[i] - out[i - 2]));
  }
  ASSERT_GT(peak, 9000);  // it played
  // The wave's own steps are about 130; a cut would step by 6000-10000.
  EXPECT_LT(step, 400) << "a click at the stop";
}

TEST_P(Contract, IdsCountUpAndAReleasedBufferIsGoneForGood) {
  const BufferId a = Load("short.wav");
  const BufferId b = Load("short.wav");
  EXPECT_EQ(b, a + 1);
  p->sound.Play(b, kPlayLooping);
  p->sound.Release(b);
  EXPECT_EQ(Load("short.wav"), b + 1);
  EXPECT_THROW(p->sound.Play(b, kPlayOnce), PlatformError);
  EXPECT_THROW(p->sound.GetStatus(b + 100), PlatformError);
}

TEST_P(Contract, AMissingOrBrokenFileThrowsNamingIt) {
  for (const std::string file : {"numbers/nothere.wav", "numbers/broken.wav"}) {
    try {
      Load(file);
      ADD_FAILURE() << file << " loaded";
    } catch (const PlatformError& e) {
      EXPECT_NE(std::string(e.what()).find("Cannot load sound file " + file + ": "),
                std::string::npos)
          << e.what();
    }
  }
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

// The sound log and the render know the program only through what the backend tells them.
TEST_P(Contract, ObserversHearEachOperationOnceItHasSucceeded) {
  p->Watch(heard);
  const BufferId id = Load("tone.wav");
  p->sound.SetVolume(id, -600);
  p->sound.SetPan(id, 2500);
  p->sound.SetFrequency(id, 11025);
  p->sound.SetCurrentPosition(id, 100);
  p->sound.Play(id, kPlayLooping);
  p->sound.Stop(id);
  p->sound.Release(id);
  EXPECT_THROW(p->sound.Stop(id), PlatformError);
  EXPECT_THROW(Load("numbers/broken.wav"), PlatformError);
  p->system.SetTimerEnabled(true);
  p->system.SetTimerEnabled(false);
  TinyHttpServer server(200);
  const std::string url = "127.0.0.1:" + std::to_string(server.port()) + "/score?n=1";
  p->transfer.StartTransfer(url, {});
  for (int i = 0; i < 500 && p->transfer.TransferExecuting(); ++i) h->RunFor(10);
  const std::string n = std::to_string(id);
  EXPECT_EQ(heard.seen,
            (std::vector<std::string>{
                "load " + n + " tone.wav ", "volume " + n + " tone.wav -600",
                "pan " + n + " tone.wav 2500", "frequency " + n + " tone.wav 11025",
                "position " + n + " tone.wav 100", "play " + n + " tone.wav loop",
                "stop " + n + " tone.wav ", "release " + n + " tone.wav ", "timer 0 Timer1 on",
                "timer 0 Timer1 off", "http 0 " + url + " start", "http 0 " + url + " end 200"}));
}

INSTANTIATE_TEST_SUITE_P(Backends, Contract, ::testing::Values(Backend::Virtual, Backend::Real),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return std::string(info.param == Backend::Virtual ? "Virtual" : "Real");
                         });

}  // namespace
}  // namespace qv::test

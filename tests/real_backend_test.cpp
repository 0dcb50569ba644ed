// real_backend_test.cpp -- the real backend on this machine: unit conversions, the key table,
// sound buffers heard through the wave writer, the timer, settings errors and HTTP transfers.
#include <SDL_keyboard.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

#include "http_test_server.h"
#include "platform/sdl_openal/keymap.h"
#include "platform/sdl_openal/machine.h"
#include "platform/units.h"
#include "platform/wave_file.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(RealUnits, VolumeIsHundredthsOfDecibels) {
  EXPECT_FLOAT_EQ(GainFromVolume(0), 1.0f);
  EXPECT_NEAR(GainFromVolume(-600), 0.501f, 0.001f);  // -6 dB: half the amplitude
  EXPECT_NEAR(GainFromVolume(-2000), 0.1f, 1e-6f);
  EXPECT_NEAR(GainFromVolume(-10000), 1e-5f, 1e-9f);
  EXPECT_FLOAT_EQ(GainFromVolume(500), 1.0f);  // never louder than the file
}

TEST(RealUnits, PanAttenuatesOnlyTheFarChannel) {
  const ChannelGains centre = GainsFromVolumeAndPan(0, 0);
  EXPECT_FLOAT_EQ(centre.left, 1.0f);
  EXPECT_FLOAT_EQ(centre.right, 1.0f);
  const ChannelGains left = GainsFromVolumeAndPan(0, -10000);
  EXPECT_FLOAT_EQ(left.left, 1.0f);
  EXPECT_FLOAT_EQ(left.right, 0.0f);
  const ChannelGains right = GainsFromVolumeAndPan(-1000, 10000);
  EXPECT_NEAR(right.right, 0.3162f, 1e-4f);  // the volume still applies to the near side
  EXPECT_FLOAT_EQ(right.left, 0.0f);
  const ChannelGains half = GainsFromVolumeAndPan(0, 600);  // 6 dB down on the left only
  EXPECT_NEAR(half.left, 0.501f, 0.001f);
  EXPECT_FLOAT_EQ(half.right, 1.0f);
}

TEST(RealUnits, FrequencyIsARatioToTheFileRate) {
  EXPECT_FLOAT_EQ(PitchFromFrequency(22050, 22050), 1.0f);
  EXPECT_FLOAT_EQ(PitchFromFrequency(44100, 22050), 2.0f);
  EXPECT_FLOAT_EQ(PitchFromFrequency(11025, 44100), 0.25f);
  EXPECT_FLOAT_EQ(PitchFromFrequency(0, 44100), 1.0f);  // 0: the file's own rate
}

TEST(RealKeymap, GameKeysHaveTheirSetOneCodes) {
  const std::pair<SDL_Scancode, int> expected[] = {
      {SDL_SCANCODE_ESCAPE, 1},     {SDL_SCANCODE_RETURN, 28},    {SDL_SCANCODE_LCTRL, 29},
      {SDL_SCANCODE_S, 31},         {SDL_SCANCODE_H, 35},         {SDL_SCANCODE_L, 38},
      {SDL_SCANCODE_C, 46},         {SDL_SCANCODE_B, 48},         {SDL_SCANCODE_SPACE, 57},
      {SDL_SCANCODE_UP, 200},       {SDL_SCANCODE_LEFT, 203},     {SDL_SCANCODE_RIGHT, 205},
      {SDL_SCANCODE_DOWN, 208},     {SDL_SCANCODE_KP_ENTER, 156}, {SDL_SCANCODE_RCTRL, 157},
      {SDL_SCANCODE_HOME, 199},     {SDL_SCANCODE_PAGEUP, 201},   {SDL_SCANCODE_END, 207},
      {SDL_SCANCODE_PAGEDOWN, 209}, {SDL_SCANCODE_INSERT, 210},   {SDL_SCANCODE_DELETE, 211},
      {SDL_SCANCODE_A, 30},         {SDL_SCANCODE_Z, 44},         {SDL_SCANCODE_1, 2},
      {SDL_SCANCODE_0, 11},         {SDL_SCANCODE_F1, 59},        {SDL_SCANCODE_F10, 68},
      {SDL_SCANCODE_F11, 87},       {SDL_SCANCODE_F12, 88},       {SDL_SCANCODE_LSHIFT, 42},
      {SDL_SCANCODE_RSHIFT, 54},    {SDL_SCANCODE_LALT, 56},      {SDL_SCANCODE_RALT, 184},
      {SDL_SCANCODE_KP_8, 72},      {SDL_SCANCODE_KP_DIVIDE, 181}};
  for (const auto& [sdl, set1] : expected) {
    EXPECT_EQ(SetOneFromSdlScancode(sdl), set1) << SDL_GetScancodeName(sdl);
  }
  EXPECT_EQ(SetOneFromSdlScancode(SDL_SCANCODE_UNKNOWN), 0);
  EXPECT_EQ(SetOneFromSdlScancode(-1), 0);
  EXPECT_EQ(SetOneFromSdlScancode(SDL_NUM_SCANCODES), 0);
}

TEST(RealKeymap, EveryLetterDigitAndFunctionKeyHasItsOwnCode) {
  std::vector<int> seen(256, 0);
  auto check = [&](int first, int last) {
    for (int sdl = first; sdl <= last; ++sdl) {
      const int code = SetOneFromSdlScancode(sdl);
      EXPECT_NE(code, 0) << SDL_GetScancodeName(static_cast<SDL_Scancode>(sdl));
      EXPECT_EQ(seen[static_cast<size_t>(code)]++, 0) << "code " << code << " given twice";
    }
  };
  check(SDL_SCANCODE_A, SDL_SCANCODE_0);  // letters and digits
  check(SDL_SCANCODE_F1, SDL_SCANCODE_F12);
  check(SDL_SCANCODE_RIGHT, SDL_SCANCODE_UP);
  check(SDL_SCANCODE_LCTRL, SDL_SCANCODE_RGUI);
}

// ---- Sound through the wave writer ----

// Every test in this process captures to one file, rewritten each time a device opens.
struct WaveCapture {
  fs::path dir;
  fs::path output;
  WaveCapture() {
    dir = fs::temp_directory_path() / ("qv_real_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    output = dir / "out.wav";
    setenv("QUORVANE_SOUND_CAPTURE", output.c_str(), 1);
  }
  ~WaveCapture() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

WaveCapture& Capture() {
  static WaveCapture capture;
  return capture;
}

// A sine tone at 440 Hz, half of full scale.
void WriteTone(const fs::path& path, int ms, int rate = 22050, int channels = 1, int bits = 16) {
  const int frames = rate * ms / 1000;
  const int bytes_per_sample = bits / 8;
  const uint32_t data_bytes = static_cast<uint32_t>(frames * channels * bytes_per_sample);
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  u32(36 + data_bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(static_cast<uint16_t>(channels));
  u32(static_cast<uint32_t>(rate));
  u32(static_cast<uint32_t>(rate * channels * bytes_per_sample));
  u16(static_cast<uint16_t>(channels * bytes_per_sample));
  u16(static_cast<uint16_t>(bits));
  out.write("data", 4);
  u32(data_bytes);
  for (int i = 0; i < frames; ++i) {
    const double s = 0.5 * std::sin(2 * M_PI * 440.0 * i / rate);
    for (int c = 0; c < channels; ++c) {
      if (bits == 8) {
        out.put(static_cast<char>(static_cast<uint8_t>(128 + 127 * s)));
      } else {
        u16(static_cast<uint16_t>(static_cast<int16_t>(32767 * s)));
      }
    }
  }
}

// Peak absolute sample of each channel of a 16-bit stereo wave file.
struct Peaks {
  int left = 0;
  int right = 0;
};

Peaks ReadPeaks(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Peaks peaks;
  // Walk the chunks: the writer may put a WAVE_FORMAT_EXTENSIBLE header of its own length.
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    uint32_t size;
    std::memcpy(&size, &bytes[pos + 4], 4);
    if (std::string(&bytes[pos], 4) == "data") {
      const size_t end = std::min(bytes.size(), pos + 8 + size);
      for (size_t i = pos + 8; i + 4 <= end; i += 4) {
        int16_t l, r;
        std::memcpy(&l, &bytes[i], 2);
        std::memcpy(&r, &bytes[i + 2], 2);
        peaks.left = std::max(peaks.left, std::abs(static_cast<int>(l)));
        peaks.right = std::max(peaks.right, std::abs(static_cast<int>(r)));
      }
      break;
    }
    pos += 8 + size + (size & 1);
  }
  return peaks;
}

class RealSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sounds_ = Capture().dir / "sounds";
    fs::create_directories(sounds_);
    WriteTone(sounds_ / "short.wav", 300);
    WriteTone(sounds_ / "long.wav", 3000);
    platform_ = std::make_unique<RealPlatform>(sounds_.string());
    ASSERT_TRUE(platform_->sound.OpenSoundDevice());
  }

  // Plays `id` to its end (or for at most `ms`), closes the device so the writer finishes the
  // file, and gives the captured peaks.
  Peaks PlayAndCapture(BufferId id, int ms = 1500) {
    platform_->sound.Play(id, kPlayOnce);
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (platform_->sound.GetStatus(id) != 0 && Clock::now() < end) SleepMs(5);
    SleepMs(60);  // let the mixer write out what it holds
    platform_.reset();
    return ReadPeaks(Capture().output);
  }

  // Waits until the buffer stops playing; the time it took, in ms, or -1 past the limit.
  int MsUntilEnded(BufferId id, int limit_ms) {
    const auto start = Clock::now();
    while (platform_->sound.GetStatus(id) & kStatusPlaying) {
      if (Clock::now() - start > std::chrono::milliseconds(limit_ms)) return -1;
      SleepMs(2);
    }
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  }

  fs::path sounds_;
  std::unique_ptr<RealPlatform> platform_;
};

TEST_F(RealSoundTest, PlayedOnceItStopsAfterItsLengthAndPlaysAgainFromTheStart) {
  BufferId id = platform_->sound.CreateBuffer("short.wav");
  EXPECT_EQ(platform_->sound.GetStatus(id), 0);
  platform_->sound.Play(id, kPlayOnce);
  EXPECT_EQ(platform_->sound.GetStatus(id), kStatusPlaying);
  int ms = MsUntilEnded(id, 2000);
  EXPECT_GE(ms, 200);
  EXPECT_LE(ms, 800);
  EXPECT_EQ(platform_->sound.GetStatus(id), 0);
  platform_->sound.Play(id, kPlayOnce);
  EXPECT_EQ(platform_->sound.GetStatus(id), kStatusPlaying);
  EXPECT_LT(platform_->sound.PlayPosition(id), 22050u);  // restarted, not stuck at the end
}

TEST_F(RealSoundTest, StopPausesAndPlayResumesWhereItStopped) {
  BufferId id = platform_->sound.CreateBuffer("long.wav");
  platform_->sound.Play(id, kPlayOnce);
  SleepMs(300);
  platform_->sound.Stop(id);
  EXPECT_EQ(platform_->sound.GetStatus(id), 0);
  const uint32_t paused_at = platform_->sound.PlayPosition(id);
  EXPECT_GT(paused_at, 2 * 22050 * 200 / 1000u);  // about 300 ms of 16-bit 22050 Hz in
  SleepMs(200);
  EXPECT_EQ(platform_->sound.PlayPosition(id), paused_at);
  platform_->sound.Play(id, kPlayOnce);
  EXPECT_GE(platform_->sound.PlayPosition(id), paused_at);
  // Playing a playing buffer keeps its place, as the game's buffers do.
  SleepMs(100);
  const uint32_t before = platform_->sound.PlayPosition(id);
  platform_->sound.Play(id, kPlayOnce);
  EXPECT_GE(platform_->sound.PlayPosition(id), before);
}

TEST_F(RealSoundTest, APositionSetWhileNotPlayingHoldsAtTheNextPlay) {
  BufferId id = platform_->sound.CreateBuffer("long.wav");
  // Never played yet.
  platform_->sound.SetCurrentPosition(id, 40000);
  platform_->sound.Play(id, kPlayOnce);
  EXPECT_GE(platform_->sound.PlayPosition(id), 40000u);
  // Paused: the rewind the game does before replaying a cue.
  platform_->sound.Stop(id);
  platform_->sound.SetCurrentPosition(id, 0);
  platform_->sound.Play(id, kPlayOnce);
  EXPECT_LT(platform_->sound.PlayPosition(id), 40000u);
  // Ended: the position set afterwards is where it starts.
  BufferId shorter = platform_->sound.CreateBuffer("short.wav");
  platform_->sound.Play(shorter, kPlayOnce);
  ASSERT_GE(MsUntilEnded(shorter, 2000), 0);
  platform_->sound.SetCurrentPosition(shorter, 8000);
  platform_->sound.Play(shorter, kPlayOnce);
  EXPECT_GE(platform_->sound.PlayPosition(shorter), 8000u);
  // Past the end: clamped, never an error.
  platform_->sound.SetCurrentPosition(shorter, 1u << 30);
}

TEST_F(RealSoundTest, LoopingPlaysPastItsEndAndAStoppedBufferReadsZero) {
  BufferId id = platform_->sound.CreateBuffer("short.wav");
  platform_->sound.Play(id, kPlayLooping);
  EXPECT_EQ(platform_->sound.GetStatus(id), kStatusPlaying | kStatusLooping);
  SleepMs(700);
  EXPECT_EQ(platform_->sound.GetStatus(id), kStatusPlaying | kStatusLooping);
  platform_->sound.Stop(id);
  EXPECT_EQ(platform_->sound.GetStatus(id), 0);  // the looping bit comes only with playing
  platform_->sound.Play(id, kPlayOnce);  // the flag follows the latest Play
  EXPECT_EQ(platform_->sound.GetStatus(id), kStatusPlaying);
  EXPECT_GE(MsUntilEnded(id, 2000), 0);
}

TEST_F(RealSoundTest, DoubleFrequencyEndsInHalfTheTime) {
  BufferId id = platform_->sound.CreateBuffer("long.wav");
  platform_->sound.SetFrequency(id, 44100);
  platform_->sound.Play(id, kPlayOnce);
  int ms = MsUntilEnded(id, 5000);
  EXPECT_GE(ms, 1300);
  EXPECT_LE(ms, 1900);
}

// The pan law of the game's units: the near channel keeps the file's level (a half-scale tone
// peaks at 16383) at every pan, the far channel is silent at the sides.
TEST_F(RealSoundTest, PanKeepsTheNearChannelAtTheFilesLevel) {
  struct Case {
    int pan;
    bool left_heard, right_heard;
  };
  for (const Case c : {Case{-10000, true, false}, Case{0, true, true}, Case{10000, false, true}}) {
    SCOPED_TRACE(c.pan);
    if (!platform_) {
      platform_ = std::make_unique<RealPlatform>(sounds_.string());
      ASSERT_TRUE(platform_->sound.OpenSoundDevice());
    }
    BufferId id = platform_->sound.CreateBuffer("short.wav");
    platform_->sound.SetPan(id, c.pan);
    Peaks peaks = PlayAndCapture(id);
    std::printf("pan %6d: left peak %5d, right peak %5d\n", c.pan, peaks.left, peaks.right);
    EXPECT_NEAR(peaks.left, c.left_heard ? 16383 : 0, c.left_heard ? 200 : 100);
    EXPECT_NEAR(peaks.right, c.right_heard ? 16383 : 0, c.right_heard ? 200 : 100);
  }
}

TEST_F(RealSoundTest, VolumeScalesTheCapturedLevel) {
  WriteTone(sounds_ / "stereo8.wav", 300, 11025, 2, 8);
  BufferId loud = platform_->sound.CreateBuffer("short.wav");
  BufferId quiet = platform_->sound.CreateBuffer("stereo8.wav");  // 8-bit stereo loads too
  platform_->sound.SetVolume(loud, -10000);
  platform_->sound.SetVolume(quiet, -2000);
  platform_->sound.Play(loud, kPlayOnce);
  Peaks peaks = PlayAndCapture(quiet);
  // Half scale at -20 dB is a tenth of that; the -100 dB buffer adds nothing audible.
  const int expected = 16384 / 10;
  EXPECT_NEAR(peaks.left, expected, expected / 4);
  EXPECT_NEAR(peaks.right, expected, expected / 4);
}

// A stop in the middle of a loud sound fades it out over a few ms instead of cutting it: no
// sample-to-sample step in the capture comes near the level it stopped at.
TEST_F(RealSoundTest, AStopLeavesNoStepInTheOutput) {
  // 8000 with a small 440 Hz wave on it, faded in over its first 10 ms so the start is smooth.
  const int rate = 22050;
  std::vector<int16_t> samples(static_cast<size_t>(rate));
  for (size_t i = 0; i < samples.size(); ++i) {
    const double fade = std::min(1.0, static_cast<double>(i) / (rate / 100));
    samples[i] = static_cast<int16_t>(fade * (8000 + 2000 * std::sin(2 * M_PI * 440 * i / rate)));
  }
  WriteWave((sounds_ / "level.wav").string(), rate, 1, samples.data(), samples.size());
  BufferId id = platform_->sound.CreateBuffer("level.wav");
  platform_->sound.Play(id, kPlayOnce);
  SleepMs(300);
  platform_->sound.Stop(id);
  SleepMs(100);
  platform_.reset();
  const Pcm out = ReadWave(Capture().output.string());
  int peak = 0, step = 0;
  for (size_t i = 2; i < out.frames * 2; ++i) {
    peak = std::max(peak, std::abs(static_cast<int>(out.samples[i])));
    step = std::max(step, std::abs(out.samples[i] - out.samples[i - 2]));
  }
  ASSERT_GT(peak, 9000);  // it played
  // The wave's own steps are about 130; a cut would step by 6000-10000.
  EXPECT_LT(step, 400) << "a click at the stop";
}

TEST_F(RealSoundTest, IdsCountUpAndAreNeverReused) {
  BufferId a = platform_->sound.CreateBuffer("short.wav");
  BufferId b = platform_->sound.CreateBuffer("short.wav");
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 2);
  platform_->sound.Play(b, kPlayLooping);
  platform_->sound.Release(b);
  EXPECT_EQ(platform_->sound.CreateBuffer("short.wav"), 3);
  EXPECT_THROW(platform_->sound.Play(b, kPlayOnce), PlatformError);
  EXPECT_THROW(platform_->sound.GetStatus(42), PlatformError);
}

TEST_F(RealSoundTest, AMissingOrBrokenFileThrowsNamingIt) {
  fs::create_directories(sounds_ / "numbers");
  std::ofstream(sounds_ / "numbers" / "broken.wav") << "RIFF not really";
  for (const std::string file : {"numbers/nothere.wav", "numbers/broken.wav"}) {
    try {
      platform_->sound.CreateBuffer(file);
      ADD_FAILURE() << file << " loaded";
    } catch (const PlatformError& e) {
      EXPECT_NE(std::string(e.what()).find("Cannot load sound file " + file + ": "),
                std::string::npos)
          << e.what();
    }
  }
  RealPlatform no_device(sounds_.string());
  EXPECT_THROW(no_device.sound.CreateBuffer("short.wav"), PlatformError);
}

// With no sound server and no sound card, the device does not open (and the game says so).
TEST_F(RealSoundTest, WithNoAudioOutputTheDeviceDoesNotOpen) {
  platform_.reset();
  const std::pair<const char*, const char*> no_output[] = {
      {"QUORVANE_SOUND_CAPTURE", nullptr},
      {"SDL_AUDIODRIVER", "pulseaudio"},
      {"PULSE_SERVER", "unix:/nonexistent/native"}};
  std::vector<std::pair<std::string, std::optional<std::string>>> saved;
  for (const auto& [name, value] : no_output) {
    const char* was = std::getenv(name);
    saved.emplace_back(name, was ? std::optional<std::string>(was) : std::nullopt);
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  {
    RealPlatform none(sounds_.string());
    EXPECT_FALSE(none.sound.OpenSoundDevice());
    EXPECT_THROW(none.sound.CreateBuffer("short.wav"), PlatformError);
  }
  for (const auto& [name, was] : saved) {
    was ? setenv(name.c_str(), was->c_str(), 1) : unsetenv(name.c_str());
  }
}

// ---- Transfer against a local server ----

using test::RefusingPort;
using test::SilentListener;
using test::TinyHttpServer;

int RunTransfer(CurlTransfer& transfer, const std::string& url) {
  transfer.StartTransfer(url);
  const auto start = Clock::now();
  while (transfer.TransferExecuting()) {
    if (Clock::now() - start > std::chrono::seconds(10)) return -1;
    SleepMs(1);
  }
  return transfer.TransferStatus();
}

TEST(RealTransferTest, GivesTheHttpStatusOrZeroWhenTheTransferFails) {
  CurlTransfer platform;
  {
    TinyHttpServer ok(200);
    const std::string url = "127.0.0.1:" + std::to_string(ok.port()) + "/score?n=a%26b";
    EXPECT_EQ(RunTransfer(platform, url), 200);
    EXPECT_EQ(ok.request_line(), "GET /score?n=a%26b HTTP/1.1");
  }
  {
    TinyHttpServer error(500);
    EXPECT_EQ(RunTransfer(platform, "127.0.0.1:" + std::to_string(error.port()) + "/"), 500);
  }
  EXPECT_EQ(RunTransfer(platform, "127.0.0.1:" + std::to_string(RefusingPort()) + "/"), 0);
}

TEST(RealTransferTest, ANewTransferAbandonsOneStillRunning) {
  // A listener that never accepts: the first transfer connects and waits for ever.
  SilentListener silent;
  CurlTransfer platform;
  platform.StartTransfer("127.0.0.1:" + std::to_string(silent.port()) + "/");
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(platform.TransferExecuting());
    SleepMs(2);
  }
  TinyHttpServer ok(200);
  EXPECT_EQ(RunTransfer(platform, "127.0.0.1:" + std::to_string(ok.port()) + "/"), 200);
}

}  // namespace
}  // namespace qv

// real_backend_test.cpp -- the real backend on this machine, where it has no virtual twin: unit
// conversions, the key table, a machine with no audio output, the environment the window's
// start-up leaves, and HTTP transfers.
#include <SDL_keyboard.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include "display.h"
#include "http_test_server.h"
#include "platform/real/keymap.h"
#include "platform/real/machine.h"
#include "platform/units.h"
#include "support.h"

namespace qv {
namespace {

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

// With no sound server and no sound card, the device does not open (and the game says so), and
// no buffer can be made. What the buffers do once it opens, both backends alike, is in
// contract_test.cpp.
TEST(RealSound, WithNoAudioOutputTheDeviceDoesNotOpen) {
  test::TempDir sounds;
  test::WriteWav(sounds / "short.wav", 300);
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
    RealPlatform none(sounds.path().string());
    EXPECT_THROW(none.sound.CreateBuffer("short.wav"), PlatformError);  // before the device
    EXPECT_FALSE(none.sound.OpenSoundDevice());
    EXPECT_THROW(none.sound.CreateBuffer("short.wav"), PlatformError);
  }
  for (const auto& [name, was] : saved) {
    was ? setenv(name.c_str(), was->c_str(), 1) : unsetenv(name.c_str());
  }
}

// While nothing needs speed the output mixes up to 35 ms ahead of what is heard, 17 ms at a
// time: a sound played once must still read as ended no sooner than its length after its Play
// allows (a replay refuses an end told more than 11 ms early), wherever its end falls among the
// output's pieces, in both sizes. Sounds of twelve lengths, so that their ends fall all over.
TEST(RealSound, ASoundPlayedOnceEndsNoSoonerThanItsLengthWhateverTheOutputHolds) {
  test::TempDir sounds;
  for (int k = 0; k < 12; ++k)
    test::WriteWav(sounds / ("s" + std::to_string(k) + ".wav"), 40 + 3 * k);
  const char* was = std::getenv("QUORVANE_SOUND_CAPTURE");
  const std::optional<std::string> saved = was ? std::optional<std::string>(was) : std::nullopt;
  setenv("QUORVANE_SOUND_CAPTURE", (sounds / "out.wav").c_str(), 1);
  {
    SdlSound sound(sounds.path().string());
    ASSERT_TRUE(sound.OpenSoundDevice());
    for (bool quick : {false, true}) {
      sound.SetQuickResponse(quick);
      for (int k = 0; k < 12; ++k) {
        const BufferId id = sound.CreateBuffer("s" + std::to_string(k) + ".wav");
        const auto played = Clock::now();
        sound.Play(id, kPlayOnce);
        while (sound.GetStatus(id) != 0) SleepMs(1);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - played).count();
        EXPECT_GE(ms, 40 + 3 * k - 11) << "sound " << k << (quick ? ", quick" : ", calm");
        // A pump that read the sound as playing just before its end was told must not sleep
        // through it: the end wakes the next turn at once, and only that one.
        EXPECT_EQ(sound.MsToNextEnd(), std::optional<uint32_t>(0)) << "sound " << k;
        EXPECT_EQ(sound.MsToNextEnd(), std::nullopt) << "sound " << k;
      }
    }
  }
  saved ? setenv("QUORVANE_SOUND_CAPTURE", saved->c_str(), 1) : unsetenv("QUORVANE_SOUND_CAPTURE");
}

// ---- Transfer against a local server ----

using test::RefusingPort;
using test::SilentListener;
using test::TinyHttpServer;

int RunTransfer(CurlTransfer& transfer, const std::string& url) {
  transfer.StartTransfer(url, {});
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
  platform.StartTransfer("127.0.0.1:" + std::to_string(silent.port()) + "/", {});
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(platform.TransferExecuting());
    SleepMs(2);
  }
  TinyHttpServer ok(200);
  EXPECT_EQ(RunTransfer(platform, "127.0.0.1:" + std::to_string(ok.port()) + "/"), 200);
}

}  // namespace
}  // namespace qv

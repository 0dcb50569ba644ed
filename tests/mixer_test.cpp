// mixer_test.cpp -- the mixer heard sample by sample: the pan law, ramps instead of clicks,
// positions that survive a stop, ends, loops and rates.
#include "platform/mixer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/wave_file.h"

namespace qv {
namespace {

constexpr uint32_t kRate = 44100;

// A file of `frames` frames of one constant value (or a ramp 0, 1, 2... when ramp is set).
std::shared_ptr<Pcm> Constant(size_t frames, int16_t value, uint32_t rate = kRate,
                              bool ramp = false) {
  auto p = std::make_shared<Pcm>();
  p->rate = rate;
  p->channels = 1;
  p->frames = frames;
  p->samples = std::make_unique<int16_t[]>(frames);
  for (size_t i = 0; i < frames; ++i) p->samples[i] = ramp ? static_cast<int16_t>(i) : value;
  return p;
}

std::vector<float> MixFrames(Mixer& m, size_t frames) {
  std::vector<float> out(2 * frames);
  m.Mix(out.data(), frames);
  return out;
}

// The largest step between neighbouring samples of one channel.
float LargestStep(const std::vector<float>& out, int channel) {
  float worst = 0;
  for (size_t i = 2 + channel; i < out.size(); i += 2) {
    worst = std::max(worst, std::fabs(out[i] - out[i - 2]));
  }
  return worst;
}

TEST(Mixer, PanKeepsTheNearChannelAtTheVolumeAndLowersOnlyTheFarOne) {
  Mixer m(kRate);
  m.Add(1, Constant(kRate, 16384));
  m.SetVolume(1, -600);
  m.SetPan(1, -3000);
  m.Play(1, true);
  const std::vector<float> out = MixFrames(m, 64);
  EXPECT_NEAR(out[0], 0.5f * std::pow(10.0f, -0.3f), 1e-4);  // -6 dB
  EXPECT_NEAR(out[1], 0.5f * std::pow(10.0f, -1.8f), 1e-5);  // -6 dB and 30 dB more
  m.SetPan(1, 10000);
  const std::vector<float> later = MixFrames(m, kRate / 100);  // past the ramp
  EXPECT_EQ(later[later.size() - 2], 0.0f);                    // hard right: left silent
  EXPECT_NEAR(later.back(), 0.5f * std::pow(10.0f, -0.3f), 1e-4);
}

TEST(Mixer, AStopFadesOutKeepsItsPlaceAndPlayGoesOnFromThereWithoutAStep) {
  Mixer m(kRate);
  m.Add(1, Constant(kRate, 16384));
  m.Play(1, false);
  MixFrames(m, 1000);
  m.Stop(1);
  EXPECT_EQ(m.State(1).frame, 1000u);
  EXPECT_FALSE(m.State(1).playing);
  const std::vector<float> fade = MixFrames(m, 441);  // 10 ms: the fade ends within it
  EXPECT_LT(LargestStep(fade, 0), 0.01f);             // 0.5 over 5 ms is about 0.0023 a sample
  EXPECT_EQ(fade[fade.size() - 2], 0.0f);
  EXPECT_EQ(m.State(1).frame, 1000u);
  m.Play(1, false);
  const std::vector<float> resumed = MixFrames(m, 441);
  EXPECT_LT(LargestStep(resumed, 0), 0.01f);
  EXPECT_NEAR(resumed[resumed.size() - 2], 0.5f, 1e-4);
  EXPECT_EQ(m.State(1).frame, 1441u);
}

TEST(Mixer, AVolumeChangeAndAReleaseRampInsteadOfStepping) {
  Mixer m(kRate);
  m.Add(1, Constant(kRate, 32000));
  m.Play(1, true);
  MixFrames(m, 10);
  m.SetVolume(1, -1000);
  EXPECT_LT(LargestStep(MixFrames(m, 441), 1), 0.01f);
  m.Remove(1);
  const std::vector<float> gone = MixFrames(m, 441);
  EXPECT_LT(LargestStep(gone, 1), 0.01f);
  EXPECT_EQ(gone.back(), 0.0f);
}

TEST(Mixer, ASoundPlayedOnceEndsTellsTheListenerAndStartsAgainFromZero) {
  Mixer m(kRate);
  int ends = 0;
  m.SetEndListener([&] { ++ends; });
  m.Add(1, Constant(100, 1000));
  m.Play(1, false);
  MixFrames(m, 99);
  EXPECT_TRUE(m.State(1).playing);
  EXPECT_EQ(ends, 0);
  MixFrames(m, 2);
  EXPECT_FALSE(m.State(1).playing);
  EXPECT_EQ(m.State(1).frame, 0u);
  EXPECT_EQ(ends, 1);
}

// The output plays what was mixed later: an end mixed ahead reads as one only once it is within
// kEndToldAheadMs of being heard, and a Play meanwhile starts the sound again.
TEST(Mixer, AnEndMixedAheadReadsAsOneOnlyWhenItIsAboutToBeHeard) {
  Mixer m(kRate);
  m.Add(1, Constant(100, 1000));
  MixFrames(m, 1000);  // frames mixed before the sound
  m.Play(1, false);
  MixFrames(m, 2000);  // its end at output frame 1100
  const auto ahead = static_cast<uint64_t>(kRate * kEndToldAheadMs / 1000);
  EXPECT_EQ(m.Mixed(), 3000u);
  EXPECT_TRUE(m.State(1, 0).playing);
  EXPECT_FALSE(m.State(1, 0).looping);
  EXPECT_EQ(m.State(1, 500).frames_to_told_end, 1100 - ahead - 500);
  EXPECT_TRUE(m.State(1, 1100 - ahead - 1).playing);
  EXPECT_FALSE(m.State(1, 1100 - ahead).playing);
  EXPECT_FALSE(m.State(1).playing);  // all that is mixed, heard
  m.Play(1, false);
  EXPECT_TRUE(m.State(1, 1100 - ahead).playing);
  EXPECT_EQ(m.State(1, 1100 - ahead).frames_to_told_end, 0u);  // being mixed again
  m.Stop(1);
  EXPECT_FALSE(m.State(1, 0).playing);
}

TEST(Mixer, LoopsWrapAndTheFrequencySetsTheRate) {
  Mixer m(kRate);
  m.Add(1, Constant(1000, 0, kRate / 2, /*ramp=*/true));  // a file at half the output's rate
  m.Play(1, true);
  MixFrames(m, 100);
  EXPECT_EQ(m.State(1).frame, 50u);  // its own rate: half a frame per output frame
  m.SetFrequency(1, static_cast<int>(kRate) * 2);
  MixFrames(m, 1000);
  EXPECT_EQ(m.State(1).frame, 50u);  // 2000 frames on: twice round the loop
  const Mixer::VoiceState s = m.State(1);
  EXPECT_TRUE(s.playing);
  EXPECT_TRUE(s.looping);
  // Interpolated between frames: sample values follow the ramp 50, 52, 54...
  const std::vector<float> out = MixFrames(m, 3);
  EXPECT_NEAR(out[2] * 32768.0f, 52.0f, 0.01f);
}

}  // namespace
}  // namespace qv

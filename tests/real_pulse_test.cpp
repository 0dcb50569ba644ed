// real_pulse_test.cpp -- the real sound output on a PulseAudio server's null sink, heard by a
// recorder on its monitor: how soon the first sound reaches the sink, and that a change of the
// output's buffer leaves no gap or step in what it plays. Run by tests/e2e/real_output_test.sh,
// which starts a server of its own and names its sink in QV_PULSE_SINK; skipped without it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/real/machine.h"
#include "platform/real/sink_monitor.h"
#include "platform/wave_file.h"
#include "support.h"

namespace qv {
namespace {

constexpr int kRate = 44100;

// What the sink played, as it came.
struct Heard {
  void Take(const int16_t* s, size_t frames, double last_us) {
    std::lock_guard lock(mutex);
    for (size_t f = 0; f < frames; ++f) {
      const int16_t left = s[2 * f];
      samples.push_back(left);
      if (first_us == 0 && std::abs(left) > 1000)
        first_us = last_us - 1e6 * (frames - 1 - f) / kRate;
    }
  }
  std::mutex mutex;
  std::vector<int16_t> samples;  // the left channel
  double first_us = 0;           // when the first loud frame came
};

class RealPulse : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* sink = std::getenv("QV_PULSE_SINK");
    if (sink == nullptr) GTEST_SKIP() << "needs a PulseAudio null sink: real_output_test.sh";
    unsetenv("QUORVANE_SOUND_CAPTURE");
    setenv("PULSE_SINK", sink, 1);
    // A tone of exactly 441 periods a second at the output's rate: it loops without a seam,
    // and each sample follows from the two before it.
    std::vector<int16_t> tone(kRate);
    for (int i = 0; i < kRate; ++i)
      tone[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * i / 100));
    WriteWave(dir / "tone.wav", kRate, 1, tone.data(), tone.size());
    monitor = SinkMonitor::Open(
        sink, [this](const int16_t* s, size_t n, double us) { heard.Take(s, n, us); });
    ASSERT_NE(monitor, nullptr);
  }
  test::TempDir dir;
  Heard heard;
  std::unique_ptr<SinkMonitor> monitor;
};

// An idle null sink holds two seconds of silence it rendered ahead; the game's first sound must
// not wait behind it. Three starts, each while the sink is in the middle of such a block.
TEST_F(RealPulse, TheFirstSoundReachesTheSinkSoonAfterTheOutputOpens) {
  for (int start = 0; start < 3; ++start) {
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    {
      std::lock_guard lock(heard.mutex);
      heard.first_us = 0;
    }
    const double opened = RealtimeUs();
    SdlSound sound(dir.path().string());
    ASSERT_TRUE(sound.OpenSoundDevice());
    sound.Play(sound.CreateBuffer("tone.wav"), kPlayOnce);
    double first = 0;
    for (int i = 0; i < 5000 && first == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::lock_guard lock(heard.mutex);
      first = heard.first_us;
    }
    ASSERT_GT(first, 0) << "start " << start << ": nothing heard in 5 s";
    // The goal is 40 ms from the program's start; a busy machine gets a generous margin.
    EXPECT_LT((first - opened) / 1000, 250) << "start " << start;
  }
}

// The output's buffer changes size in place: a tone playing through forty changes, back and
// forth, reaches the sink from its first sample (the stream's first data is where the server
// cuts a little), without a run of silence or a sample out of its sine.
TEST_F(RealPulse, ABufferChangeMakesNoGapOrStepInWhatTheSinkPlays) {
  {
    SdlSound sound(dir.path().string());
    ASSERT_TRUE(sound.OpenSoundDevice());
    const BufferId tone = sound.CreateBuffer("tone.wav");
    sound.Play(tone, kPlayLooping);
    for (int change = 0; change < 40; ++change) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40 + change * 7 % 90));
      sound.SetQuickResponse(change % 2 == 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    sound.Stop(tone);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  std::lock_guard lock(heard.mutex);
  const std::vector<int16_t>& s = heard.samples;
  size_t from = 0, to = s.size();
  while (from < to && s[from] == 0 && s[from + 1] == 0) ++from;
  while (to > from && s[to - 1] == 0) --to;
  to -= std::min<size_t>(to - from, kRate / 50);  // the stop's fade
  ASSERT_GT(to - from, static_cast<size_t>(kRate)) << "the tone was not heard";
  const double c = 2 * std::cos(2 * M_PI / 100);
  size_t zeros = 0, longest = 0, steps = 0, first_step = 0;
  for (size_t i = from + 2; i < to; ++i) {
    zeros = s[i] == 0 ? zeros + 1 : 0;
    longest = std::max(longest, zeros);
    if (std::abs(s[i] - c * s[i - 1] + s[i - 2]) > 8 && steps++ == 0) first_step = i;
  }
  EXPECT_LT(longest, 3u) << "a gap of " << longest << " silent samples";
  std::string around;
  for (size_t i = first_step > 4 ? first_step - 4 : 0; steps > 0 && i < first_step + 4; ++i)
    around += " " + std::to_string(s[i]);
  EXPECT_EQ(steps, 0u) << "samples that do not follow the tone, the first " << first_step - from
                       << " in and " << to - first_step << " before the end:" << around;
}

}  // namespace
}  // namespace qv

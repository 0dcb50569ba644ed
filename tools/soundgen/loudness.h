// Loudness measures shared by the sound generator and its test: ITU-R BS.1770 integrated loudness
// (K-weighted, gated), the RMS of the voiced part of a sound, and peak.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace qvsound {

inline constexpr double kPi = 3.14159265358979323846;

// One second-order filter section, direct form I.
struct Biquad {
  double b0, b1, b2, a1, a2;
  double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  double Step(double x) {
    double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }
};

// The two K-weighting stages (a high shelf modelling the head, then a high pass), derived for any
// sample rate from their analogue prototypes; at 48 kHz they give the coefficients of BS.1770.
inline Biquad KWeightingShelf(double rate) {
  const double f0 = 1681.974450955533, gain_db = 3.999843853973347, q = 0.7071752369554196;
  const double k = std::tan(kPi * f0 / rate);
  const double vh = std::pow(10.0, gain_db / 20.0);
  const double vb = std::pow(vh, 0.4996667741545416);
  const double a0 = 1.0 + k / q + k * k;
  return Biquad{(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
                (vh - vb * k / q + k * k) / a0, 2.0 * (k * k - 1.0) / a0,
                (1.0 - k / q + k * k) / a0};
}

inline Biquad KWeightingHighPass(double rate) {
  const double f0 = 38.13547087602444, q = 0.5003270373238773;
  const double k = std::tan(kPi * f0 / rate);
  const double a0 = 1.0 + k / q + k * k;
  return Biquad{1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
}

// Integrated loudness in LUFS of one or more channels (samples in -1..1, all the same length).
// Blocks are 400 ms long and start every 100 ms; blocks under -70 LUFS are dropped, then blocks
// more than 10 LU below the mean of the rest. A sound shorter than one block is measured as a
// single block over its whole length, so that short clicks and single words still get a figure.
// Returns -200 for digital silence.
inline double IntegratedLoudness(const std::vector<std::vector<double>>& channels, double rate) {
  if (channels.empty() || channels[0].empty()) return -200.0;
  const std::size_t n = channels[0].size();
  std::vector<double> power(n, 0.0);  // K-weighted power summed over channels, sample by sample
  for (const auto& ch : channels) {
    Biquad s = KWeightingShelf(rate), h = KWeightingHighPass(rate);
    for (std::size_t i = 0; i < n; ++i) {
      const double y = h.Step(s.Step(ch[i]));
      power[i] += y * y;
    }
  }
  std::vector<double> prefix(n + 1, 0.0);
  for (std::size_t i = 0; i < n; ++i) prefix[i + 1] = prefix[i] + power[i];

  const std::size_t block = static_cast<std::size_t>(std::lround(0.4 * rate));
  const std::size_t hop = static_cast<std::size_t>(std::lround(0.1 * rate));
  std::vector<double> blocks;
  if (n < block) {
    blocks.push_back(prefix[n] / static_cast<double>(n));
  } else {
    for (std::size_t start = 0; start + block <= n; start += hop)
      blocks.push_back((prefix[start + block] - prefix[start]) / static_cast<double>(block));
  }
  auto lufs = [](double z) { return -0.691 + 10.0 * std::log10(z); };
  auto gated_mean = [&](double gate) {
    double sum = 0.0;
    int count = 0;
    for (double z : blocks)
      if (z > 0.0 && lufs(z) > gate) {
        sum += z;
        ++count;
      }
    return count ? sum / count : 0.0;
  };
  const double ungated = gated_mean(-70.0);
  if (ungated <= 0.0) return -200.0;
  const double mean = gated_mean(lufs(ungated) - 10.0);
  return mean > 0.0 ? lufs(mean) : -200.0;
}

// The RMS over a sound's voiced part, in dBFS: what speech is levelled by. BS.1770 gating and
// K-weighting are built for programmes seconds long, and on a single short word their figure
// drifts from what is heard; the plain power of the stretches where the voice sounds does not.
//
// The sound is cut into consecutive 50 ms windows from its first sample (a remainder shorter than
// a window joins the last window; a sound shorter than one window is a single window). The power
// of a window is the mean square of its samples, summed over channels, so a mono sound reads the
// same on one speaker as on both at -3 dB each. A window is voiced if its power is no more than
// kVoicedRangeDb under the most powerful window's: that keeps vowels, consonants and soft word
// ends and drops pauses, breaths and fade-outs. The figure is the power mean over all samples of
// the voiced windows, so a sine of amplitude A with silence around it reads 20*log10(A/sqrt(2)).
// Returns -200 for digital silence.
inline constexpr double kVoicedRangeDb = 30.0;

inline double VoicedRmsDbfs(const std::vector<std::vector<double>>& channels, double rate) {
  if (channels.empty() || channels[0].empty()) return -200.0;
  const std::size_t n = channels[0].size();
  const std::size_t len =
      std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(0.05 * rate)));
  const std::size_t count = std::max<std::size_t>(1, n / len);
  std::vector<double> energy(count, 0.0);  // sum of squares per window, over all channels
  for (const auto& ch : channels)
    for (std::size_t i = 0; i < n; ++i) energy[std::min(i / len, count - 1)] += ch[i] * ch[i];
  auto size = [&](std::size_t w) { return w + 1 < count ? len : n - w * len; };
  double loudest = 0.0;
  for (std::size_t w = 0; w < count; ++w) loudest = std::max(loudest, energy[w] / double(size(w)));
  if (loudest <= 0.0) return -200.0;
  const double floor = loudest * std::pow(10.0, -kVoicedRangeDb / 10.0);
  double sum = 0.0;
  std::size_t samples = 0;
  for (std::size_t w = 0; w < count; ++w)
    if (energy[w] / double(size(w)) >= floor) {
      sum += energy[w];
      samples += size(w);
    }
  return 10.0 * std::log10(sum / double(samples));
}

// Highest absolute sample over all channels, in dBFS (-200 for digital silence).
inline double PeakDbfs(const std::vector<std::vector<double>>& channels) {
  double peak = 0.0;
  for (const auto& ch : channels)
    for (double v : ch) peak = std::max(peak, std::fabs(v));
  return peak > 0.0 ? 20.0 * std::log10(peak) : -200.0;
}

}  // namespace qvsound

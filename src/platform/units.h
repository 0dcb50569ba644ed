// units.h -- the game's sound units (hundredths of dB, pan -10000..10000, hertz) turned into
// the gain of each output channel and a playback-rate ratio. Pure functions, tested on their own.
#pragma once

#include <algorithm>
#include <cmath>

namespace qv {

// -10000 (silence, -100 dB) .. 0 (full): gain = 10^(dB / 20).
inline float GainFromVolume(int hundredths_db) {
  const int v = std::clamp(hundredths_db, -10000, 0);
  return static_cast<float>(std::pow(10.0, v / 2000.0));
}

// The gain of each output channel. Pan 0 plays both channels at the volume; pan p leaves the
// near channel there and attenuates the far one by a further |p| / 100 dB, so +-10000 is
// silence on the far side.
struct ChannelGains {
  float left = 1;
  float right = 1;
};
inline ChannelGains GainsFromVolumeAndPan(int hundredths_db, int pan) {
  const int p = std::clamp(pan, -10000, 10000);
  const float gain = GainFromVolume(hundredths_db);
  if (p == 10000) return {0.0f, gain};
  if (p == -10000) return {gain, 0.0f};
  return {p > 0 ? gain * GainFromVolume(-p) : gain, p < 0 ? gain * GainFromVolume(p) : gain};
}

// The game asks for a playback rate in hertz; the mixer steps through the file by its ratio to
// the file's own rate.
inline float PitchFromFrequency(int hertz, int file_rate) {
  if (file_rate <= 0 || hertz <= 0) return 1.0f;
  return static_cast<float>(hertz) / static_cast<float>(file_rate);
}

}  // namespace qv

// units.h -- the game's sound units (hundredths of dB, pan -10000..10000, hertz) turned into
// OpenAL's gain, source position and pitch. Pure functions, so they are tested on their own.
#pragma once

#include <algorithm>
#include <cmath>

namespace qv {

struct PanPosition {
  float x = 0;
  float y = 0;
  float z = -1;
};

// -10000 (silence, -100 dB) .. 0 (full): gain = 10^(dB / 20).
inline float GainFromVolume(int hundredths_db) {
  const int v = std::clamp(hundredths_db, -10000, 0);
  return static_cast<float>(std::pow(10.0, v / 2000.0));
}

// A listener-relative point on the unit circle in front of the listener: with no distance
// model only the direction counts, and x = +-1 puts the whole sound in one channel.
inline PanPosition PositionFromPan(int pan) {
  const double x = std::clamp(pan, -10000, 10000) / 10000.0;
  return PanPosition{static_cast<float>(x), 0.0f, static_cast<float>(-std::sqrt(1.0 - x * x))};
}

// The game asks for a playback rate in hertz; OpenAL wants a ratio to the file's own rate.
inline float PitchFromFrequency(int hertz, int file_rate) {
  if (file_rate <= 0 || hertz <= 0) return 1.0f;
  return static_cast<float>(hertz) / static_cast<float>(file_rate);
}

}  // namespace qv

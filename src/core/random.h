// random.h -- the game's own random generator (uniform in [0, 1)), and the integer draws that
// place and pitch the targets and pick the scrambling's key digit.
#pragma once

#include <cstdint>

#include "platform/system.h"

namespace qv {

// A small PCG-32 generator: the same seed gives the same sequence, so simulator runs repeat.
struct Random {
  uint64_t state = 0x853c49e6748fea9bULL;
  uint64_t inc = 0xda3e39cb94b95bdbULL;

  void Seed(uint32_t seed);
  uint32_t NextBits();
  float Next();  // uniform in [0, 1), single precision
};

// The whole number from low to high inclusive that the draw r in [0, 1) selects.
int16_t ScaleDraw(float r, int16_t low, int16_t high);
// A whole number from low to high inclusive, each equally likely.
int16_t RandomInt(Random& rng, int16_t low, int16_t high);
// The same after re-seeding from the system's clock; note the upper bound comes first.
int16_t RandomIntReseeded(Random& rng, System& system, int16_t high, int16_t low);

}  // namespace qv

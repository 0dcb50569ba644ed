// random.cpp -- PCG-32 and the integer draws built on it.
#include "core/random.h"

#include <cmath>

namespace qv {

void Random::Seed(uint32_t seed) {
  state = 0;
  inc = (static_cast<uint64_t>(seed) << 1u) | 1u;
  NextBits();
  state += 0x853c49e6748fea9bULL ^ seed;
  NextBits();
}

uint32_t Random::NextBits() {
  uint64_t old = state;
  state = old * 6364136223846793005ULL + inc;
  auto xorshifted = static_cast<uint32_t>(((old >> 18u) ^ old) >> 27u);
  auto rot = static_cast<uint32_t>(old >> 59u);
  return (xorshifted >> rot) | (xorshifted << ((32u - rot) & 31u));
}

float Random::Next() {
  // 24 bits fill a float's mantissa exactly, so the result is never rounded up to 1.
  return static_cast<float>(NextBits() >> 8) * (1.0f / 16777216.0f);
}

int16_t ScaleDraw(float r, int16_t low, int16_t high) {
  auto n = static_cast<int16_t>(high - low + 1);
  // In double, n * r + low stays below high + 1 for every r < 1; in single precision the sum
  // could round up to high + 1 for wide ranges such as 14000..28999.
  return static_cast<int16_t>(std::floor(static_cast<double>(n) * r + low));
}

int16_t RandomInt(Random& rng, int16_t low, int16_t high) {
  return ScaleDraw(rng.Next(), low, high);
}

int16_t RandomIntReseeded(Random& rng, System& system, int16_t high, int16_t low) {
  rng.Seed(system.ClockSeed());
  return RandomInt(rng, low, high);
}

}  // namespace qv

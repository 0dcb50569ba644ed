// Shared pieces of the sound generator: wave files in and out, a fixed random source, effect and
// music entry points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvsound {

constexpr int kRate = 22050;  // every sound of the game is stored at this rate

// Samples in -1..1, one vector per channel.
struct Audio {
  int rate = kRate;
  std::vector<std::vector<double>> ch;
  std::size_t frames() const { return ch.empty() ? 0 : ch[0].size(); }
};

// Reads a wave file (as sox and fluidsynth write them) with the game's reader; exits with a
// message when it cannot.
Audio ReadWav(const std::string& path);
// Writes a plain 16-bit PCM file holding only "fmt " and "data", rounding without dither.
void WriteWav(const std::string& path, const Audio& audio);

// A small deterministic random source (xorshift64*), so every run makes the same bytes.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed * 2685821657736338717ULL + 1) {}
  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 2685821657736338717ULL;
  }
  double Uniform() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }  // 0..1
  double Noise() { return Uniform() * 2.0 - 1.0; }                                     // -1..1

 private:
  std::uint64_t state_;
};

// Effects: synthesises the named effect as mono audio; false if the name is unknown.
bool MakeEffect(const std::string& name, Audio& out);

// Music: one loop of a piece, as a standard MIDI file repeated three times, and the loop's exact
// length in samples at kRate (tempi are chosen so that a beat is a whole number of samples).
bool WriteMusicMidi(const std::string& name, const std::string& path);
long MusicLoopSamples(const std::string& name);

}  // namespace qvsound

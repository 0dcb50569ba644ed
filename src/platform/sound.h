// sound.h -- the seam's sound buffers, in the game's units: volume in hundredths of a decibel
// (-10000 silent .. 0 full), pan -10000 (left) .. 10000 (right), frequency in hertz.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

// Buffers are numbered 1, 2, 3... in order of creation and never reused; 0 is "empty".
using BufferId = int;

constexpr int kPlayOnce = 0;
constexpr int kPlayLooping = 1;
constexpr int kStatusPlaying = 1;
constexpr int kStatusLooping = 4;  // reported only together with kStatusPlaying

class Sound {
 public:
  virtual ~Sound() = default;

  // Opens the default sound device; false when there is none. Called once by StartUp.
  virtual bool OpenSoundDevice() = 0;
  // A new buffer holding the whole decoded file, named relative to the sounds folder
  // ("intro.wav", "numbers/sn1.wav"), at full volume, centre, its own rate, position 0.
  // Throws PlatformError naming the file on failure. Called by the players and the bank.
  virtual BufferId CreateBuffer(const std::string& file) = 0;
  // Starts from the current position, or goes on if already playing, taking the new flag.
  virtual void Play(BufferId id, int flags) = 0;
  virtual void Stop(BufferId id) = 0;  // pauses: the position stays
  virtual void SetCurrentPosition(BufferId id, uint32_t byte_offset) = 0;
  virtual void SetVolume(BufferId id, int hundredths_db) = 0;
  // Pan 0 plays both channels at full level; pan p attenuates only the far channel, by
  // |p| / 100 dB, so +-10000 is one channel alone.
  virtual void SetPan(BufferId id, int pan) = 0;
  virtual void SetFrequency(BufferId id, int hertz) = 0;
  virtual int GetStatus(BufferId id) = 0;  // 0, or kStatusPlaying with kStatusLooping if looping
  virtual void Release(BufferId id) = 0;   // silences it if playing
};

}  // namespace qv

// sound.h -- the seam's sound buffers, in the game's units: volume in hundredths of a decibel
// (-10000 silent .. 0 full), pan -10000 (left) .. 10000 (right), frequency in hertz.
#pragma once

#include <cstdint>
#include <string>

#include "platform/observer.h"

namespace qv {

// Buffers are numbered 1, 2, 3... in order of creation and never reused; 0 is "empty".
using BufferId = int;

// How Play plays a buffer: to its end once, or round and round until stopped.
enum PlayMode { kPlayOnce, kPlayLooping };

constexpr int kStatusPlaying = 1;
constexpr int kStatusLooping = 4;  // reported only together with kStatusPlaying

// Every operation that changes a buffer is told to the observers once it has succeeded: "load",
// "play" (once or loop), "stop", "position", "volume", "pan", "frequency", "release", with the
// buffer's file.
class Sound : public virtual Observable {
 public:
  virtual ~Sound() = default;

  // Opens the default sound device; false when there is none. Called once by StartUp.
  virtual bool OpenSoundDevice() = 0;
  // A new buffer holding the whole decoded file, named relative to the sounds folder
  // ("intro.wav", "numbers/sn1.wav"), at full volume, centre, its own rate, position 0.
  // Throws PlatformError naming the file on failure. Called by LoadSound (the bank, at
  // start-up), by PlaySound and by PlayAndWait.
  virtual BufferId CreateBuffer(const std::string& file) = 0;
  // Starts from the current position, or goes on if already playing, taking the new mode; a
  // buffer played once to its end starts again from the beginning. Called by the players, by
  // the game for the bank's sounds (a launch going on after a pause, the reload's sounds, the
  // level's music) and by the main menu for its music.
  virtual void Play(BufferId id, PlayMode mode) = 0;
  // Pauses: the sound stops where it is and its position stays, so the next Play goes on from
  // there. Called by the players when a sound is cut short or done, and by the game when a
  // target is hit or lands, a level's music changes or a game ends.
  virtual void Stop(BufferId id) = 0;
  // Moves the play position, in bytes of the file's sound data (past the end: at the end).
  // Called by PlayFromStart to rewind a sound before playing it again, and by the main menu
  // and the game to rewind their music.
  virtual void SetCurrentPosition(BufferId id, uint32_t byte_offset) = 0;
  // Called by PlayAndWait (full volume) and by the menus, which lower their music under
  // speech and bring it back.
  virtual void SetVolume(BufferId id, int hundredths_db) = 0;
  // Pan 0 plays both channels at full level; pan p attenuates only the far channel, by
  // |p| / 100 dB, so +-10000 is one channel alone. Called by PlaySound (centre), by
  // PlayFromStart (a target's side) and by the bonus round as its target moves.
  virtual void SetPan(BufferId id, int pan) = 0;
  // The rate the buffer plays at, which sets its pitch and its length. Called by the game at
  // each launch, for the launch sound's random pitch.
  virtual void SetFrequency(BufferId id, int hertz) = 0;
  // 0, or kStatusPlaying with kStatusLooping if looping. Called by PlaySound and PlayAndWait
  // at each pass of their wait for the sound's end.
  virtual int GetStatus(BufferId id) = 0;
  // Frees the buffer, silencing it if it plays; its number is never used again. Called by
  // LoadSound (replacing a bank buffer), by PlaySound (the one-shot sound before), by
  // PlayAndWait when its sound is over, and by StopAndRelease.
  virtual void Release(BufferId id) = 0;
};

}  // namespace qv

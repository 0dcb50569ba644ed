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

  // Who calls each operation is named by layer: startup (StartUp), sound (the players, the bank,
  // the music level), game (the game and the bonus round), menu (the main menu, the sound tour).

  // Opens the default sound device; false when there is none. Called once, by startup.
  virtual bool OpenSoundDevice() = 0;
  // A new buffer holding the whole decoded file, named relative to the sounds folder
  // ("intro.wav", "numbers/sn1.wav"), at full volume, centre, its own rate, position 0.
  // Throws PlatformError naming the file on failure. Called by sound (the bank at start-up, the
  // one-shot and interruptible players) and by menu (each stop of the sound tour).
  virtual BufferId CreateBuffer(const std::string& file) = 0;
  // Starts from the current position, or goes on if already playing, taking the new mode; a
  // buffer played once to its end starts again from the beginning. Called by sound (the
  // players), by game (a launch going on after a pause, the reload's sounds, the warning, a
  // level's music, the bonus round's miss) and by menu (the main menu's music, the tour).
  virtual void Play(BufferId id, PlayMode mode) = 0;
  // Pauses: the sound stops where it is and its position stays, so the next Play goes on from
  // there. Called by sound (a sound cut short or done), by game (a target hit or landed, a
  // level's music changing, a game's end) and by menu (its music before a submission, a tour
  // stop skipped).
  virtual void Stop(BufferId id) = 0;
  // Moves the play position, in bytes of the file's sound data (past the end: at the end).
  // Called by sound (PlayFromStart rewinds a sound before playing it again), by game (the
  // level-4 music rewound at a game's start) and by menu (its music rewound on entry).
  virtual void SetCurrentPosition(BufferId id, uint32_t byte_offset) = 0;
  // Called by sound only: PlayAndWait (full volume), and the music level under the menus'
  // ducking and the player's own level.
  virtual void SetVolume(BufferId id, int hundredths_db) = 0;
  // Pan 0 plays both channels at full level; pan p attenuates only the far channel, by
  // |p| / 100 dB, so +-10000 is one channel alone. Called by sound (PlaySound centres, and
  // PlayFromStart places a target's sound on its side), by game (the bonus round's target
  // jumping) and by menu (each sound of the tour on its side).
  virtual void SetPan(BufferId id, int pan) = 0;
  // The rate the buffer plays at, which sets its pitch and its length. Called by game only, at
  // each launch, for the launch sound's random pitch.
  virtual void SetFrequency(BufferId id, int hertz) = 0;
  // 0, or kStatusPlaying with kStatusLooping if looping. Called at each pass of a wait for a
  // sound's end: by sound (PlaySound, PlayAndWait) and by menu (the tour).
  virtual int GetStatus(BufferId id) = 0;
  // Whether a key must be heard at once: true while a game or the bonus round is in play, where
  // a shot is heard with its key; false, as at start-up, in the menus, their speech, the tour
  // and a submission's wait, where the output may hold more sound and wake less often. Sounds
  // play on, and their ends read the same, either way. Not told to the observers: it changes
  // nothing the game plays. Called by game only: true as a game's or the bonus round's play
  // begins, false once it is over.
  virtual void SetQuickResponse(bool quick) = 0;
  // Frees the buffer, silencing it if it plays; its number is never used again. Called by
  // sound (LoadSound replacing a bank buffer, PlaySound the one-shot sound before, PlayAndWait
  // once its sound is over, StopAndRelease) and by menu (a tour stop once over).
  virtual void Release(BufferId id) = 0;
};

}  // namespace qv

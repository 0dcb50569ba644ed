// sound_bank.h -- the sixteen buffers loaded once at start-up: the music and the effects that
// must start at once, loop, be panned, change pitch or be stopped and restarted.
#pragma once

#include <array>

#include "platform/platform.h"

namespace qv {

struct Program;

struct SoundBank {
  BufferId MenuMusic = 0;           // "menumusic.wav"
  std::array<BufferId, 3> Music{};  // "level1.wav", "level2.wav", "BonusMusic.wav"
  BufferId GunSound = 0;            // "gun.wav"
  BufferId GlassSound = 0;          // "glass.wav"
  BufferId LandSound = 0;           // "land.wav"
  BufferId RechargeSound = 0;       // "recharge.wav"
  BufferId LaunchSound = 0;         // "launch.wav"
  BufferId WarningSound = 0;        // "warning.wav"
  BufferId EmptySound = 0;          // "empty.wav"
  BufferId LockedSound = 0;         // "locked.wav"
  BufferId BonusFallSound = 0;      // "bonusFall.wav"
  BufferId BonusHitSound = 0;       // "bonushit.wav"
  BufferId BonusLandSound = 0;      // "BonusLand.wav"
  BufferId BonusMissSound = 0;      // "bonusmiss.wav"
};

// Loads all sixteen, in a fixed order, playing nothing. Called once by StartUp.
void LoadSoundBank(Program& pg);
// Stops the bonus music, the level 4-6 music and the falling sound. Called at the end of the
// bonus round.
void StopBonusSounds(Program& pg);

}  // namespace qv

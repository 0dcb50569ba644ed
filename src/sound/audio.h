// audio.h -- the sound layer's own object: the sound bank, the one-shot player's buffer and the
// player's music level, with what the players use below them (the seam's sound buffers, the
// window's turns while a sound plays out, the keyboard that cuts a sound short, the store that
// keeps the music level).
#pragma once

#include <array>
#include <cstdint>

#include "core/window_events.h"
#include "input/keyboard.h"
#include "platform/sound.h"
#include "store/settings.h"

namespace qv {

// The sixteen buffers loaded once at start-up: the music and the effects that must start at
// once, loop, be panned, change pitch or be stopped and restarted.
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

struct Audio {
  Audio(Sound& sound_part, Window& game_window, Keyboard& keys, Settings& store)
      : sound(sound_part), window(game_window), keyboard(keys), settings(store) {}

  Sound& sound;
  Window& window;
  Keyboard& keyboard;
  Settings& settings;

  SoundBank bank;
  BufferId OneShotBuffer = 0;  // the one-shot player's buffer; each PlaySound replaces it
  // The player's music level, on top of the volumes the game sets its music to: hundredths of a
  // decibel (0 down to -3000), and whether the music is muted. Read at start-up, stored at once.
  int32_t MusicVolume = 0;
  bool MusicMuted = false;
  // The volume the menus last gave their music (0, ducked, silenced), before the player's level.
  int MenuMusicVolume = 0;
};

}  // namespace qv

// program.h -- everything the running program owns: the four parts of the platform it talks
// to, the settings file, the game record, the keyboard arrays, the sound bank, the one-shot
// buffer, the timer counter, the player's music level and the random generator. One object per
// run (a fresh one per test); there are no globals.
#pragma once

#include <array>
#include <cstdint>

#include "core/game_state.h"
#include "core/random.h"
#include "platform/platform.h"
#include "platform/sound_log.h"

namespace qv {

class IniStore;

// The keyboard as the polling loops see it.
struct Keyboard {
  std::array<uint8_t, 256> KeyState{};  // a key is down when bit 7 of its byte is set
  std::array<bool, 256> KeyLatch{};     // true once the key's current press has been acted on
};

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

struct Program {
  // log: where the settings store records its stores (the platform's own events reach the log
  // as one of the platform's observers); null when nothing is logged.
  Program(Platform platform, IniStore& settings_file, SoundLog* sound_log = nullptr)
      : system(platform.system),
        input(platform.input),
        sound(platform.sound),
        transfer(platform.transfer),
        settings(settings_file),
        log(sound_log) {}

  System& system;
  Input& input;
  Sound& sound;
  Transfer& transfer;
  IniStore& settings;
  SoundLog* log;

  GameState game;
  Keyboard keyboard;
  SoundBank bank;
  BufferId OneShotBuffer = 0;  // the one-shot player's buffer; each PlaySound replaces it
  uint8_t TimerTicks = 0;      // Timer1's tick counter; only Timer1_Timer adds to it
  uint8_t MenuItem = 0;        // the main menu's selected item, 0..3
  // The player's music level, on top of the volumes the game sets its music to: hundredths of a
  // decibel (0 down to -3000), and whether the music is muted. Read at start-up, stored at once.
  int32_t MusicVolume = 0;
  bool MusicMuted = false;
  // The volume the menus last gave their music (0, ducked, silenced), before the player's level.
  int MenuMusicVolume = 0;
  Random rng;
  // What Form_Unload runs before the program ends: a game in play sets it, so that closing
  // the window keeps the game's better score. Null outside a game.
  void (*SaveOnClose)(Program&) = nullptr;
};

}  // namespace qv

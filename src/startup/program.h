// program.h -- everything the running program owns: the platform it talks to, the game
// record, the keyboard arrays, the sound bank, the one-shot buffer, the timer counter and the
// random generator. One object per run (a fresh one per test); there are no globals.
#pragma once

#include <cstdint>

#include "common/keyboard.h"
#include "common/random.h"
#include "common/sound_bank.h"
#include "game/game_state.h"
#include "platform/platform.h"

namespace qv {

struct Program {
  explicit Program(Platform& p) : platform(p) {}

  Platform& platform;
  GameState game;
  Keyboard keyboard;
  SoundBank bank;
  BufferId OneShotBuffer = 0;  // the one-shot player's buffer; each PlaySound replaces it
  uint8_t TimerTicks = 0;      // Timer1's tick counter; only Timer1_Timer adds to it
  Random rng;
};

}  // namespace qv

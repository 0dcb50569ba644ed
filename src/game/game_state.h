// game_state.h -- the one record of game fields that lives for the whole run: score, high
// score, lives, level, difficulty, ammunition, the current target and the game's clocks.
#pragma once

#include <cstdint>

namespace qv {

// Fields in the order the game declares them; the comments give their value at a game's start.
struct GameState {
  int32_t PausedElapsed = 0;  // FlightElapsed saved while an information key speaks
  bool GameFinished = false;  // the game has ended; the loop stops at the end of the pass
  bool PerfectLevel = false;  // no miss and no landing so far in this level
  uint8_t TargetCount = 0;    // resolved targets counted in this game (never reset per level)
  int32_t Lives = 0;          // lives left (5 at the start)
  uint8_t Ammo = 0;           // shots in the gun, counted on difficulty 3 only (6 at the start)
  bool GunLocked = false;     // the gun is locked after a miss
  bool NewHighScore = false;  // the high score was beaten during this game
  int32_t Score = 0;          // current score, never below 0
  uint8_t Difficulty = 0;     // 1, 2 or 3 (3 is the hardest), chosen before each game
  bool AmmoWarned = false;    // the low-ammunition warning has sounded since the last refill
  uint8_t Level = 0;          // current level, 1 to 6
  uint8_t TargetPos = 0;      // position of the current or last target: 0 left, 1 centre, 2 right
  bool TargetInFlight = false;
  int32_t FlightElapsed = 0;    // ms the current target has flown, as measured at the last pass
  int32_t FlightStart = 0;      // tick count at which the current flight started
  int32_t FlightLimit = 0;      // a target lands when its flight time exceeds this (ms)
  bool Launched = false;        // the target of the current waiting period has been launched
  int32_t WaitStart = 0;        // tick count at which the wait for the next launch started
  int32_t WaitLimit = 0;        // a target is launched when the wait exceeds this (ms)
  bool TargetResolved = false;  // the current target has been hit or has landed

  bool GameRunning = false;   // the game loop's running flag
  bool BonusRunning = false;  // the bonus loop's running flag
};

}  // namespace qv

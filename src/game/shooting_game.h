// shooting_game.h -- the shooting game: a game from its set-up to its end (game_loop.cpp), the
// shots and game keys (shots.cpp), and the level end with the ends of a game (level_end.cpp).
// All work on the GameState record of the program.
#pragma once

#include <cstdint>

#include "core/screens.h"

namespace qv {

struct Program;

// --- game_loop.cpp ---
// Resets the game record for a new game; the difficulty selection comes next. Called when the
// main menu starts a game.
Screen NewGame(Program& pg);
// Stops the menu music, then plays the game to its end (Escape, game over or the win), keeps a
// better score (also when the window is closed during the game) and hands over to a fresh
// main menu. Entered once the difficulty is chosen.
Screen RunGame(Program& pg);
// Launches one target at a random position and pitch. Called by RunGame when the wait is over.
void LaunchTarget(Program& pg);
// A target flew past its limit: it lands, a life is lost. Called by RunGame.
void LandTarget(Program& pg);
// Stops the level music and the launch sound, each only if it is loaded: what a game's end
// (and the exit) silences before the settings are saved.
void StopGameSounds(Program& pg);

// --- shots.cpp ---
// The fire, recharge and information keys, then the low-ammunition check. Once per pass.
void HandleGameKeys(Program& pg);
// A shot in the target's direction: scores it unless it is already resolved.
void TargetHit(Program& pg);
// The penalty for a shot that missed.
void ShotMissed(Program& pg);
// Adds Difficulty x points to the score.
void AddPoints(Program& pg, int32_t points);

// Stops the launch sound, so that no target is ever heard under a number, then speaks value
// (SpeakNumberWords). Used by the game keys, the level end, the final score and the main menu.
void SpeakNumber(Program& pg, int32_t value);

// --- level_end.cpp ---
// Counts a resolved target; the one past the level's count ends the level.
void CountTarget(Program& pg);
void EndLevel(Program& pg);
void AwardExtraLife(Program& pg);
void WinGame(Program& pg);
void GameOver(Program& pg);
// "final.wav", the score, "points.wav"; ends the game's (or the bonus round's) loop.
void AnnounceFinalScore(Program& pg);

}  // namespace qv

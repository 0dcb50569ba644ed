// shooting_game.h -- the shooting game: a game from its set-up to its end (game_loop.cpp), the
// shots and game keys (shots.cpp), and the level end with the ends of a game (level_end.cpp).
// All work on the game record of the game layer's object.
#pragma once

#include <cstdint>

#include "game/game.h"

namespace qv {

// --- game_loop.cpp ---
// Resets the game record for a new game; the difficulty selection comes next. Called when the
// main menu starts a game.
void NewGame(Game& game);
// Stops the menu music, then plays the game to its end (Escape, game over or the win) and keeps
// a better score, also when the window is closed during the game (the close then goes on to end
// the program). Entered once the difficulty is chosen; a fresh main menu follows.
void RunGame(Game& game);
// Launches one target at a random position and pitch. Called by RunGame when the wait is over.
void LaunchTarget(Game& game);
// A target flew past its limit: it lands, a life is lost. Called by RunGame.
void LandTarget(Game& game);
// Stops the level music and the launch sound, each only if it is loaded: what a game's end
// (and the exit) silences before the settings are saved.
void StopGameSounds(Audio& audio);

// --- shots.cpp ---
// The fire, recharge and information keys, then the low-ammunition check. Once per pass.
void HandleGameKeys(Game& game);
// A shot in the target's direction: scores it unless it is already resolved.
void TargetHit(Game& game);
// The penalty for a shot that missed.
void ShotMissed(Game& game);
// Adds Difficulty x points to the score.
void AddPoints(Game& game, int32_t points);

// --- level_end.cpp ---
// Counts a resolved target; the one past the level's count ends the level.
void CountTarget(Game& game);
void EndLevel(Game& game);
void AwardExtraLife(Game& game);
void WinGame(Game& game);
void GameOver(Game& game);
// "final.wav", the score, "points.wav"; ends the game's (or the bonus round's) loop.
void AnnounceFinalScore(Game& game);
// The end of a game (Escape, game over, the win, the window closed) and each level end: a
// score above the high score becomes the high score, stored with its difficulty and marked
// unsent. A lower score is never stored. Stops no sound: that is the caller's.
void SaveSettings(Game& game);

}  // namespace qv

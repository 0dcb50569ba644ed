// bonus_round.h -- the bonus round: eleven falling targets, one at a time, that jump to a new
// position each time the player presses the arrow for the side they are heard on.
#pragma once

#include "game/game.h"

namespace qv {

// Sets the round's fields of the game record, stops the menu music and runs the round. Entered
// from the main menu (B, once the game has been won); a fresh main menu follows.
void StartBonusRound(Game& game);
// The welcome, then the round's loop until Escape or the eleventh landing; then the round's
// sounds are stopped. Called only by StartBonusRound.
void RunBonusRound(Game& game);

// The steps of the loop, one pass at a time.
// A new target starts falling at a random position; the keys are unlocked.
void LaunchBonusTarget(Game& game);
// Up, Left and Right, in that order, each judged against where the target is at that moment.
void HandleBonusKeys(Game& game);
// The arrow matched: the hit sound where the target was, the target jumps, one point.
void BonusTargetHit(Game& game);
// The arrow did not match: the miss sound, one point off (never below 0).
void BonusShotMissed(Game& game);
// The target fell past its limit: it lands where it is and the keys lock until the next launch.
void LandBonusTarget(Game& game);
// Counts a landing; the eleventh ends the round with the final score.
void CountBonusLanding(Game& game);
// Stops the bonus music, the level 4-6 music and the falling sound. Called at the end of the
// round.
void StopBonusSounds(Audio& audio);

}  // namespace qv

// bonus_round.cpp -- the bonus round's set-up, loop and steps, all on the game record.
#include "game/bonus_round.h"

#include <cstdint>
#include <optional>

#include "core/random.h"
#include "core/window_events.h"
#include "game/shooting_game.h"
#include "game/target.h"
#include "input/keyboard.h"
#include "sound/music_volume.h"
#include "sound/players.h"

namespace qv {

namespace {

constexpr int32_t kBonusFlightLimitMs = 3000;
constexpr int32_t kBonusWaitLimitMs = 1500;
constexpr uint8_t kBonusTargets = 10;  // landings counted before the one that ends the round

}  // namespace

void StartBonusRound(Game& game) {
  GameState& g = game.state;
  StartRound(g, kBonusFlightLimitMs, kBonusWaitLimitMs);
  // Locked until the first target falls: a key before then has nothing to aim at.
  g.GunLocked = true;
  g.GameFinished = false;
  StopSound(game.audio, game.audio.bank.MenuMusic);
  RunBonusRound(game);
}

void RunBonusRound(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  g.BonusRunning = true;
  audio.sound.SetQuickResponse(true);  // as a game's: a shot is heard with its key
  PlaySound(audio, "bonuswelcome.wav", true);
  PlaySound(audio, "go.wav", false);
  PlayFromStart(audio, audio.bank.Music[2], std::nullopt, kPlayLooping);
  g.WaitStart = Now(game);
  g.FlightStart = Now(game);
  while (g.BonusRunning) {
    PollKeyboard(game.keyboard);
    DoEvents(game.window, NextDue(g));
    // Escape acts while it is held, latch or not, so a press during the welcome still counts.
    if (KeyDown(game.keyboard, kKeyEscape)) {
      g.BonusRunning = false;
    } else {
      if (!g.TargetInFlight && !g.Launched &&
          Since(game, g.WaitStart) > static_cast<uint32_t>(g.WaitLimit)) {
        g.Launched = true;
        LaunchBonusTarget(game);
      }
      // Right after a launch, so a key held through the wait counts as a press at once.
      HandleBonusKeys(game);
      HandleMusicKeys(audio);
      if (g.TargetInFlight) {
        uint32_t fallen = Since(game, g.FlightStart);
        g.FlightElapsed = static_cast<int32_t>(fallen);
        if (fallen > static_cast<uint32_t>(g.FlightLimit)) LandBonusTarget(game);
      }
    }
    if (g.GameFinished) g.BonusRunning = false;
  }
  // The landing, hit and miss sounds play out; the bonus score is never stored.
  StopBonusSounds(audio);
  audio.sound.SetQuickResponse(false);
}

void LaunchBonusTarget(Game& game) {
  GameState& g = game.state;
  g.TargetInFlight = true;
  g.TargetPos = static_cast<uint8_t>(RandomInt(game.rng, 0, 2));
  PlayFromStart(game.audio, game.audio.bank.BonusFallSound, SideOf(g.TargetPos).pan);
  g.FlightElapsed = 0;
  g.FlightStart = Now(game);
  g.TargetResolved = false;
  g.GunLocked = false;
}

void HandleBonusKeys(Game& game) {
  GameState& g = game.state;
  // Locked keys are not even latched: one held now still counts once the target falls.
  if (g.GunLocked) return;
  for (const Side& side : kFireOrder) {
    if (!TakeKeyPress(game.keyboard, side.key)) continue;
    // TargetPos is read afresh: after a hit, the next key meets the target where it jumped.
    if (g.TargetPos == side.position) {
      BonusTargetHit(game);
    } else {
      BonusShotMissed(game);
    }
  }
}

void BonusTargetHit(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  audio.sound.Stop(audio.bank.BonusHitSound);
  PlayFromStart(audio, audio.bank.BonusHitSound, SideOf(g.TargetPos).pan);
  // The same target jumps (perhaps to where it was) and keeps falling on its own clock.
  g.TargetPos = static_cast<uint8_t>(RandomInt(game.rng, 0, 2));
  audio.sound.SetPan(audio.bank.BonusFallSound, SideOf(g.TargetPos).pan);
  g.Score += 1;
}

void BonusShotMissed(Game& game) {
  GameState& g = game.state;
  // Played as it is: misses in quick succession run on in one sound rather than restart it.
  game.audio.sound.Play(game.audio.bank.BonusMissSound, kPlayOnce);
  g.Score -= 1;
  if (g.Score < 0) g.Score = 0;
}

void LandBonusTarget(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  audio.sound.Stop(audio.bank.BonusFallSound);
  audio.sound.Stop(audio.bank.BonusLandSound);
  PlayFromStart(audio, audio.bank.BonusLandSound, SideOf(g.TargetPos).pan);
  g.GunLocked = true;
  CountBonusLanding(game);
  g.TargetResolved = true;
  g.TargetInFlight = false;
  g.Launched = false;
  // After the final score on the last landing; the loop ends in this pass anyway.
  g.WaitStart = Now(game);
}

void CountBonusLanding(Game& game) {
  GameState& g = game.state;
  if (g.TargetCount == kBonusTargets) {
    StopSound(game.audio, game.audio.bank.Music[2]);
    DuckPlay(game.audio, true);  // the last landing rings on
    AnnounceFinalScore(game);
    DuckPlay(game.audio, false);
  } else {
    g.TargetCount += 1;
  }
}

void StopBonusSounds(Audio& audio) {
  StopSound(audio, audio.bank.Music[2]);
  StopSound(audio, audio.bank.Music[1]);
  StopSound(audio, audio.bank.BonusFallSound);
}

}  // namespace qv

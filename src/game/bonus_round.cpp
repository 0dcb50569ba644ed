// bonus_round.cpp -- the bonus round's set-up, loop and steps, all on the game record.
#include "game/bonus_round.h"

#include <cstdint>
#include <optional>

#include "core/program.h"
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

Screen StartBonusRound(Program& pg) {
  GameState& g = pg.game;
  StartRound(g, kBonusFlightLimitMs, kBonusWaitLimitMs);
  // Locked until the first target falls: a key before then has nothing to aim at.
  g.GunLocked = true;
  g.GameFinished = false;
  StopSound(pg, pg.bank.MenuMusic);
  return RunBonusRound(pg);
}

Screen RunBonusRound(Program& pg) {
  GameState& g = pg.game;
  g.BonusRunning = true;
  PlaySound(pg, "bonuswelcome.wav", true);
  PlaySound(pg, "go.wav", false);
  PlayFromStart(pg, pg.bank.Music[2], std::nullopt, kPlayLooping);
  g.WaitStart = Now(pg);
  g.FlightStart = Now(pg);
  while (g.BonusRunning) {
    PollKeyboard(pg);
    DoEvents(pg, NextDue(g));
    // Escape acts while it is held, latch or not, so a press during the welcome still counts.
    if (KeyDown(pg, kKeyEscape)) {
      g.BonusRunning = false;
    } else {
      if (!g.TargetInFlight && !g.Launched &&
          Since(pg, g.WaitStart) > static_cast<uint32_t>(g.WaitLimit)) {
        g.Launched = true;
        LaunchBonusTarget(pg);
      }
      // Right after a launch, so a key held through the wait counts as a press at once.
      HandleBonusKeys(pg);
      HandleMusicKeys(pg);
      if (g.TargetInFlight) {
        uint32_t fallen = Since(pg, g.FlightStart);
        g.FlightElapsed = static_cast<int32_t>(fallen);
        if (fallen > static_cast<uint32_t>(g.FlightLimit)) LandBonusTarget(pg);
      }
    }
    if (g.GameFinished) g.BonusRunning = false;
  }
  // The landing, hit and miss sounds play out; the bonus score is never stored.
  StopBonusSounds(pg);
  return Screen::MainMenu;
}

void LaunchBonusTarget(Program& pg) {
  GameState& g = pg.game;
  g.TargetInFlight = true;
  g.TargetPos = static_cast<uint8_t>(RandomInt(pg, 0, 2));
  PlayFromStart(pg, pg.bank.BonusFallSound, SideOf(g.TargetPos).pan);
  g.FlightElapsed = 0;
  g.FlightStart = Now(pg);
  g.TargetResolved = false;
  g.GunLocked = false;
}

void HandleBonusKeys(Program& pg) {
  GameState& g = pg.game;
  // Locked keys are not even latched: one held now still counts once the target falls.
  if (g.GunLocked) return;
  for (const Side& side : kFireOrder) {
    if (!KeyPressed(pg, side.key)) continue;
    pg.keyboard.KeyLatch[static_cast<size_t>(side.key)] = true;
    // TargetPos is read afresh: after a hit, the next key meets the target where it jumped.
    if (g.TargetPos == side.position) {
      BonusTargetHit(pg);
    } else {
      BonusShotMissed(pg);
    }
  }
}

void BonusTargetHit(Program& pg) {
  GameState& g = pg.game;
  pg.sound.Stop(pg.bank.BonusHitSound);
  PlayFromStart(pg, pg.bank.BonusHitSound, SideOf(g.TargetPos).pan);
  // The same target jumps (perhaps to where it was) and keeps falling on its own clock.
  g.TargetPos = static_cast<uint8_t>(RandomInt(pg, 0, 2));
  pg.sound.SetPan(pg.bank.BonusFallSound, SideOf(g.TargetPos).pan);
  g.Score += 1;
}

void BonusShotMissed(Program& pg) {
  GameState& g = pg.game;
  // Played as it is: misses in quick succession run on in one sound rather than restart it.
  pg.sound.Play(pg.bank.BonusMissSound, kPlayOnce);
  g.Score -= 1;
  if (g.Score < 0) g.Score = 0;
}

void LandBonusTarget(Program& pg) {
  GameState& g = pg.game;
  pg.sound.Stop(pg.bank.BonusFallSound);
  pg.sound.Stop(pg.bank.BonusLandSound);
  PlayFromStart(pg, pg.bank.BonusLandSound, SideOf(g.TargetPos).pan);
  g.GunLocked = true;
  CountBonusLanding(pg);
  g.TargetResolved = true;
  g.TargetInFlight = false;
  g.Launched = false;
  // After the final score on the last landing; the loop ends in this pass anyway.
  g.WaitStart = Now(pg);
}

void CountBonusLanding(Program& pg) {
  GameState& g = pg.game;
  if (g.TargetCount == kBonusTargets) {
    StopSound(pg, pg.bank.Music[2]);
    AnnounceFinalScore(pg);
  } else {
    g.TargetCount += 1;
  }
}

void StopBonusSounds(Program& pg) {
  StopSound(pg, pg.bank.Music[2]);
  StopSound(pg, pg.bank.Music[1]);
  StopSound(pg, pg.bank.BonusFallSound);
}

}  // namespace qv

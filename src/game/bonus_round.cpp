// bonus_round.cpp -- the bonus round's set-up, loop and steps, all on the game record.
#include "game/bonus_round.h"

#include <cstdint>
#include <optional>

#include "core/program.h"
#include "core/random.h"
#include "core/window_events.h"
#include "game/shooting_game.h"
#include "input/keyboard.h"
#include "sound/players.h"
#include "sound/sound_bank.h"

namespace qv {

namespace {

constexpr int32_t kBonusFlightLimitMs = 3000;
constexpr int32_t kBonusWaitLimitMs = 1500;
constexpr uint8_t kBonusTargets = 10;  // landings counted before the one that ends the round

uint32_t Now(Program& pg) { return pg.system.TickCount(); }

// Milliseconds since a stored tick count, modulo 2^32, so the counter's wrap changes nothing.
uint32_t Since(Program& pg, int32_t start) { return Now(pg) - static_cast<uint32_t>(start); }

// The first tick at which a deadline of limit ms after start has passed (strictly greater).
uint32_t DueAfter(int32_t start, int32_t limit) {
  return static_cast<uint32_t>(start) + static_cast<uint32_t>(limit) + 1;
}

// What the loop waits for next: the landing while a target falls, else the next launch.
std::optional<uint32_t> NextDue(const GameState& g) {
  if (g.TargetInFlight) return DueAfter(g.FlightStart, g.FlightLimit);
  if (!g.Launched) return DueAfter(g.WaitStart, g.WaitLimit);
  return std::nullopt;
}

// The bonus keys and the position each one fires at.
struct BonusKey {
  int scan_code;
  uint8_t position;
};
constexpr BonusKey kBonusKeys[] = {{kKeyUp, 1}, {kKeyLeft, 0}, {kKeyRight, 2}};

}  // namespace

Screen StartBonusRound(Program& pg) {
  GameState& g = pg.game;
  g.Score = 0;
  // Locked until the first target falls: a key before then has nothing to aim at.
  g.GunLocked = true;
  g.TargetCount = 0;
  g.GameFinished = false;
  g.TargetInFlight = false;
  g.Launched = false;
  g.FlightStart = 0;
  g.FlightElapsed = 0;
  g.WaitStart = 0;
  g.FlightLimit = kBonusFlightLimitMs;
  g.WaitLimit = kBonusWaitLimitMs;
  StopSound(pg, pg.bank.MenuMusic);
  return RunBonusRound(pg);
}

Screen RunBonusRound(Program& pg) {
  GameState& g = pg.game;
  g.BonusRunning = true;
  PlaySound(pg, "bonuswelcome.wav", true);
  PlaySound(pg, "go.wav", false);
  BufferId music = pg.bank.Music[2];
  pg.sound.SetCurrentPosition(music, 0);
  pg.sound.Play(music, kPlayLooping);
  g.WaitStart = static_cast<int32_t>(Now(pg));
  g.FlightStart = static_cast<int32_t>(Now(pg));
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
  BufferId fall = pg.bank.BonusFallSound;
  pg.sound.SetPan(fall, PanOfPosition(g.TargetPos));
  pg.sound.SetCurrentPosition(fall, 0);
  pg.sound.Play(fall, kPlayOnce);
  g.FlightElapsed = 0;
  g.FlightStart = static_cast<int32_t>(Now(pg));
  g.TargetResolved = false;
  g.GunLocked = false;
}

void HandleBonusKeys(Program& pg) {
  GameState& g = pg.game;
  // Locked keys are not even latched: one held now still counts once the target falls.
  if (g.GunLocked) return;
  for (const BonusKey& key : kBonusKeys) {
    if (!KeyPressed(pg, key.scan_code)) continue;
    pg.keyboard.KeyLatch[static_cast<size_t>(key.scan_code)] = true;
    // TargetPos is read afresh: after a hit, the next key meets the target where it jumped.
    if (g.TargetPos == key.position) {
      BonusTargetHit(pg);
    } else {
      BonusShotMissed(pg);
    }
  }
}

void BonusTargetHit(Program& pg) {
  GameState& g = pg.game;
  BufferId hit = pg.bank.BonusHitSound;
  pg.sound.SetPan(hit, PanOfPosition(g.TargetPos));
  pg.sound.Stop(hit);
  pg.sound.SetCurrentPosition(hit, 0);
  pg.sound.Play(hit, kPlayOnce);
  // The same target jumps (perhaps to where it was) and keeps falling on its own clock.
  g.TargetPos = static_cast<uint8_t>(RandomInt(pg, 0, 2));
  pg.sound.SetPan(pg.bank.BonusFallSound, PanOfPosition(g.TargetPos));
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
  BufferId land = pg.bank.BonusLandSound;
  pg.sound.SetPan(land, PanOfPosition(g.TargetPos));
  pg.sound.Stop(land);
  pg.sound.SetCurrentPosition(land, 0);
  pg.sound.Play(land, kPlayOnce);
  g.GunLocked = true;
  CountBonusLanding(pg);
  g.TargetResolved = true;
  g.TargetInFlight = false;
  g.Launched = false;
  // After the final score on the last landing; the loop ends in this pass anyway.
  g.WaitStart = static_cast<int32_t>(Now(pg));
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

}  // namespace qv

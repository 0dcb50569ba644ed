// shots.cpp -- the game keys: firing, hits and misses, the magazine, and the spoken score,
// high score and lives.
#include "core/program.h"
#include "game/shooting_game.h"
#include "game/target.h"
#include "input/keyboard.h"
#include "sound/players.h"
#include "sound/spoken_numbers.h"

namespace qv {

namespace {

// A fire key: the gun is heard on the side it fires at.
void Fire(Program& pg, const Side& side) {
  GameState& g = pg.game;
  pg.keyboard.KeyLatch[static_cast<size_t>(side.key)] = true;
  if (g.Difficulty == 3 && !g.GunLocked && g.Ammo > 0) --g.Ammo;
  if (g.GunLocked) {
    PlayFromStart(pg, pg.bank.LockedSound);
  } else if (g.Ammo != 0 || g.Difficulty != 3) {
    PlayFromStart(pg, pg.bank.GunSound, side.pan);
    if (g.TargetPos == side.position) {
      TargetHit(pg);
    } else {
      ShotMissed(pg);
      if (g.Difficulty == 2 || g.Difficulty == 3) g.GunLocked = true;
    }
  } else {
    PlayFromStart(pg, pg.bank.EmptySound);  // the last shot went with the warning
  }
}

void Recharge(Program& pg) {
  GameState& g = pg.game;
  pg.keyboard.KeyLatch[kKeySpace] = true;
  if (g.Difficulty != 3) return;
  if (g.Ammo == 0) {
    g.Ammo = 6;
    g.AmmoWarned = false;
    pg.sound.Play(pg.bank.RechargeSound, kPlayOnce);
  } else {
    PlayFromStart(pg, pg.bank.LockedSound);
  }
}

// S, H and L: the flight clock stands still while they speak; the waiting clock does not.
void Inform(Program& pg, int key) {
  GameState& g = pg.game;
  pg.keyboard.KeyLatch[static_cast<size_t>(key)] = true;
  g.PausedElapsed = g.FlightElapsed;
  if (key != kKeyS) pg.sound.Stop(pg.bank.LaunchSound);  // SpeakNumber stops it for S
  if (key == kKeyS) {
    SpeakNumber(pg, g.Score);
    PlaySound(pg, "points.wav", true);
  } else if (key == kKeyH) {
    PlaySound(pg, "highscoreis.wav", true);
    SpeakNumber(pg, g.HighScore);
    PlaySound(pg, "points.wav", true);
  } else {
    SpeakNumber(pg, g.Lives);
  }
  if (g.TargetInFlight) pg.sound.Play(pg.bank.LaunchSound, kPlayOnce);  // goes on where it was
  g.FlightStart = TickBefore(pg, g.PausedElapsed);
}

}  // namespace

void HandleGameKeys(Program& pg) {
  GameState& g = pg.game;
  for (const Side& side : kFireOrder) {
    if (KeyPressed(pg, side.key)) Fire(pg, side);
  }
  if (KeyPressed(pg, kKeySpace)) Recharge(pg);
  for (int key : {kKeyS, kKeyH, kKeyL}) {
    if (KeyPressed(pg, key)) Inform(pg, key);
  }
  // The low-ammunition check: with one shot left the warning takes it.
  if (g.Difficulty == 3 && g.Ammo == 1 && !g.AmmoWarned) {
    g.Ammo = 0;
    g.AmmoWarned = true;
    pg.sound.Play(pg.bank.WarningSound, kPlayOnce);
  }
}

void TargetHit(Program& pg) {
  GameState& g = pg.game;
  if (g.TargetResolved) return;  // already hit, or landed
  g.TargetResolved = true;
  pg.sound.Stop(pg.bank.LaunchSound);
  pg.sound.Stop(pg.bank.GlassSound);
  PlayFromStart(pg, pg.bank.GlassSound, SideOf(g.TargetPos).pan);
  AddPoints(pg, 1500 - g.FlightElapsed);
  CountTarget(pg);
  g.Launched = false;
  g.TargetInFlight = false;
  g.WaitStart = Now(pg);
  g.FlightElapsed = 0;
  g.FlightStart = g.WaitStart;
}

void SpeakNumber(Program& pg, int32_t value) {
  StopSound(pg, pg.bank.LaunchSound);
  SpeakNumberWords(pg, value);
}

void AddPoints(Program& pg, int32_t points) { pg.game.Score += pg.game.Difficulty * points; }

void ShotMissed(Program& pg) {
  GameState& g = pg.game;
  g.PerfectLevel = false;
  g.Score = g.Score < 100 ? 0 : g.Score - 100;
}

}  // namespace qv

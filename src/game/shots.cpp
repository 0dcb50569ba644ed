// shots.cpp -- the game keys: firing, hits and misses, the magazine, and the spoken score,
// high score and lives.
#include "game/shooting_game.h"
#include "game/target.h"
#include "input/keyboard.h"
#include "sound/music_volume.h"
#include "sound/players.h"
#include "sound/spoken_numbers.h"

namespace qv {

namespace {

// A fire key: the gun is heard on the side it fires at.
void Fire(Game& game, const Side& side) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  if (g.Difficulty == 3 && !g.GunLocked && g.Ammo > 0) --g.Ammo;
  if (g.GunLocked) {
    PlayFromStart(audio, audio.bank.LockedSound);
  } else if (g.Ammo != 0 || g.Difficulty != 3) {
    PlayFromStart(audio, audio.bank.GunSound, side.pan);
    if (g.TargetPos == side.position) {
      TargetHit(game);
    } else {
      ShotMissed(game);
      if (g.Difficulty == 2 || g.Difficulty == 3) g.GunLocked = true;
    }
  } else {
    PlayFromStart(audio, audio.bank.EmptySound);  // the last shot went with the warning
  }
}

void Recharge(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  if (g.Difficulty != 3) return;
  if (g.Ammo == 0) {
    g.Ammo = 6;
    g.AmmoWarned = false;
    audio.sound.Play(audio.bank.RechargeSound, kPlayOnce);
  } else {
    PlayFromStart(audio, audio.bank.LockedSound);
  }
}

// S, H and L: the flight clock stands still while they speak; the waiting clock does not.
void Inform(Game& game, int key) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  g.PausedElapsed = g.FlightElapsed;
  if (key != kKeyS) audio.sound.Stop(audio.bank.LaunchSound);  // SpeakNumber stops it for S
  DuckPlay(audio, true);
  if (key == kKeyS) {
    SpeakNumber(audio, g.Score);
    PlaySound(audio, "points.wav", true);
  } else if (key == kKeyH) {
    PlaySound(audio, "highscoreis.wav", true);
    SpeakNumber(audio, game.settings.HighScore);
    PlaySound(audio, "points.wav", true);
  } else {
    SpeakNumber(audio, g.Lives);
  }
  DuckPlay(audio, false);
  if (g.TargetInFlight) audio.sound.Play(audio.bank.LaunchSound, kPlayOnce);  // goes on
  g.FlightStart = TickBefore(game, g.PausedElapsed);
}

}  // namespace

void HandleGameKeys(Game& game) {
  GameState& g = game.state;
  for (const Side& side : kFireOrder) {
    if (TakeKeyPress(game.keyboard, side.key)) Fire(game, side);
  }
  if (TakeKeyPress(game.keyboard, kKeySpace)) Recharge(game);
  for (int key : {kKeyS, kKeyH, kKeyL}) {
    if (TakeKeyPress(game.keyboard, key)) Inform(game, key);
  }
  // The low-ammunition check: with one shot left the warning takes it.
  if (g.Difficulty == 3 && g.Ammo == 1 && !g.AmmoWarned) {
    g.Ammo = 0;
    g.AmmoWarned = true;
    game.audio.sound.Play(game.audio.bank.WarningSound, kPlayOnce);
  }
}

void TargetHit(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  if (g.TargetResolved) return;  // already hit, or landed
  g.TargetResolved = true;
  audio.sound.Stop(audio.bank.LaunchSound);
  audio.sound.Stop(audio.bank.GlassSound);
  PlayFromStart(audio, audio.bank.GlassSound, SideOf(g.TargetPos).pan);
  AddPoints(game, 1500 - g.FlightElapsed);
  CountTarget(game);
  g.Launched = false;
  g.TargetInFlight = false;
  g.WaitStart = Now(game);
  g.FlightElapsed = 0;
  g.FlightStart = g.WaitStart;
}

void AddPoints(Game& game, int32_t points) { game.state.Score += game.state.Difficulty * points; }

void ShotMissed(Game& game) {
  GameState& g = game.state;
  g.PerfectLevel = false;
  g.Score = g.Score < 100 ? 0 : g.Score - 100;
}

}  // namespace qv

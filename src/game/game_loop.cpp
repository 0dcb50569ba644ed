// game_loop.cpp -- one game from its set-up to its end: the loop, the launches and landings.
#include <cstdint>

#include "core/random.h"
#include "core/window_events.h"
#include "game/shooting_game.h"
#include "game/target.h"
#include "input/keyboard.h"
#include "sound/music_volume.h"
#include "sound/players.h"

namespace qv {

namespace {

// The loop of a game, once the siren has sounded, to its end.
void PlayGame(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  while (g.GameRunning) {
    PollKeyboard(game.keyboard);
    DoEvents(game.window, NextDue(g));
    if (KeyDown(game.keyboard, kKeyEscape)) {  // acts while held, without the latch
      g.GameRunning = false;
      continue;
    }
    if (!g.TargetInFlight && !g.Launched &&
        Since(game, g.WaitStart) > static_cast<uint32_t>(g.WaitLimit)) {
      g.Launched = true;
      LaunchTarget(game);
    }
    HandleGameKeys(game);
    HandleMusicKeys(audio);
    if (g.TargetInFlight) {
      g.FlightElapsed = static_cast<int32_t>(Since(game, g.FlightStart));
      if (static_cast<uint32_t>(g.FlightElapsed) > static_cast<uint32_t>(g.FlightLimit)) {
        LandTarget(game);
      }
    }
    if (g.GameFinished) g.GameRunning = false;
  }
}

}  // namespace

void NewGame(Game& game) {
  GameState& g = game.state;
  StartRound(g, 1500, 1500);
  g.NewHighScore = false;
  g.Ammo = 6;
  g.GunLocked = false;
  g.Lives = 5;
  g.Level = 1;
  // A magazine that ran dry in the last game must warn again, and no shot may hit before the
  // first launch (the last game's target is long gone).
  g.AmmoWarned = false;
  g.TargetResolved = true;
}

void RunGame(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  // The last step of a new game's set-up, once the difficulty is chosen.
  StopSound(audio, audio.bank.MenuMusic);
  g.GameFinished = false;
  g.GameRunning = true;
  // From the siren on, a shot is heard with its key; the output holds less while the siren
  // sounds, so that the first launch finds it there.
  audio.sound.SetQuickResponse(true);
  PlaySound(audio, "siren.wav", true);
  PlayFromStart(audio, audio.bank.Music[0], std::nullopt, kPlayLooping);
  audio.sound.SetCurrentPosition(audio.bank.Music[1], 0);  // level 4 starts it from here
  g.PerfectLevel = true;
  g.WaitStart = Now(game);
  g.FlightStart = g.WaitStart;
  try {
    PlayGame(game);
  } catch (const WindowClosed&) {
    // Closing the window ends the program at once; a better score of this game is kept first.
    SaveSettings(game);
    throw;
  }
  StopGameSounds(audio);
  SaveSettings(game);
  audio.sound.SetQuickResponse(false);
}

void StopGameSounds(Audio& audio) {
  // Each only if it is loaded.
  for (BufferId b : {audio.bank.Music[0], audio.bank.Music[1], audio.bank.LaunchSound}) {
    if (b != 0) audio.sound.Stop(b);
  }
}

void LaunchTarget(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  const BufferId launch = audio.bank.LaunchSound;
  g.TargetInFlight = true;
  g.TargetPos = static_cast<uint8_t>(RandomInt(game.rng, 0, 2));
  // The pitch carries no information: only the pan tells where the target is.
  audio.sound.SetFrequency(launch, RandomIntReseeded(game.rng, game.window.system, 28999, 14000));
  PlayFromStart(audio, launch, SideOf(g.TargetPos).pan);
  g.FlightElapsed = 0;
  g.FlightStart = Now(game);
  g.TargetResolved = false;
  g.GunLocked = false;
}

void LandTarget(Game& game) {
  GameState& g = game.state;
  Audio& audio = game.audio;
  audio.sound.Stop(audio.bank.LaunchSound);
  audio.sound.Stop(audio.bank.LandSound);
  PlayFromStart(audio, audio.bank.LandSound, SideOf(g.TargetPos).pan);
  g.PerfectLevel = false;
  g.TargetResolved = true;
  g.GunLocked = false;
  if (g.Lives > 0) --g.Lives;
  if (g.Lives == 0) {
    // A lost game is not also won: the target that took the last life ends no level.
    GameOver(game);
  } else {
    CountTarget(game);
  }
  g.TargetInFlight = false;
  g.Launched = false;
  g.WaitStart = Now(game);
}

}  // namespace qv

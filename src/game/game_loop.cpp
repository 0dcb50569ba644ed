// game_loop.cpp -- one game from its set-up to its end: the loop, the launches and landings.
#include <cstdint>

#include "core/program.h"
#include "core/random.h"
#include "core/window_events.h"
#include "game/shooting_game.h"
#include "game/target.h"
#include "input/keyboard.h"
#include "sound/music_volume.h"
#include "sound/players.h"
#include "store/settings.h"

namespace qv {

Screen NewGame(Program& pg) {
  GameState& g = pg.game;
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
  return Screen::SelectDifficulty;
}

Screen RunGame(Program& pg) {
  GameState& g = pg.game;
  // The last step of a new game's set-up, once the difficulty is chosen.
  StopSound(pg, pg.bank.MenuMusic);

  g.GameFinished = false;
  g.GameRunning = true;
  PlaySound(pg, "siren.wav", true);
  PlayFromStart(pg, pg.bank.Music[0], std::nullopt, kPlayLooping);
  pg.sound.SetCurrentPosition(pg.bank.Music[1], 0);  // level 4 starts it from here
  g.PerfectLevel = true;
  g.WaitStart = Now(pg);
  g.FlightStart = g.WaitStart;
  // Closing the window ends the program at once; a better score of this game is kept first.
  pg.SaveOnClose = SaveSettings;

  while (g.GameRunning) {
    PollKeyboard(pg);
    DoEvents(pg, NextDue(g));
    if (KeyDown(pg, kKeyEscape)) {  // acts while held, without the latch
      g.GameRunning = false;
      continue;
    }
    if (!g.TargetInFlight && !g.Launched &&
        Since(pg, g.WaitStart) > static_cast<uint32_t>(g.WaitLimit)) {
      g.Launched = true;
      LaunchTarget(pg);
    }
    HandleGameKeys(pg);
    HandleMusicKeys(pg);
    if (g.TargetInFlight) {
      g.FlightElapsed = static_cast<int32_t>(Since(pg, g.FlightStart));
      if (static_cast<uint32_t>(g.FlightElapsed) > static_cast<uint32_t>(g.FlightLimit)) {
        LandTarget(pg);
      }
    }
    if (g.GameFinished) g.GameRunning = false;
  }
  pg.SaveOnClose = nullptr;
  StopGameSounds(pg);
  SaveSettings(pg);
  return Screen::MainMenu;
}

void StopGameSounds(Program& pg) {
  // Each only if it is loaded.
  for (BufferId b : {pg.bank.Music[0], pg.bank.Music[1], pg.bank.LaunchSound}) {
    if (b != 0) pg.sound.Stop(b);
  }
}

void LaunchTarget(Program& pg) {
  GameState& g = pg.game;
  const BufferId launch = pg.bank.LaunchSound;
  g.TargetInFlight = true;
  g.TargetPos = static_cast<uint8_t>(RandomInt(pg, 0, 2));
  // The pitch carries no information: only the pan tells where the target is.
  pg.sound.SetFrequency(launch, RandomIntReseeded(pg, 28999, 14000));
  PlayFromStart(pg, launch, SideOf(g.TargetPos).pan);
  g.FlightElapsed = 0;
  g.FlightStart = Now(pg);
  g.TargetResolved = false;
  g.GunLocked = false;
}

void LandTarget(Program& pg) {
  GameState& g = pg.game;
  pg.sound.Stop(pg.bank.LaunchSound);
  pg.sound.Stop(pg.bank.LandSound);
  PlayFromStart(pg, pg.bank.LandSound, SideOf(g.TargetPos).pan);
  g.PerfectLevel = false;
  g.TargetResolved = true;
  g.GunLocked = false;
  if (g.Lives > 0) --g.Lives;
  if (g.Lives == 0) {
    // A lost game is not also won: the target that took the last life ends no level.
    GameOver(pg);
  } else {
    CountTarget(pg);
  }
  g.TargetInFlight = false;
  g.Launched = false;
  g.WaitStart = Now(pg);
}

}  // namespace qv

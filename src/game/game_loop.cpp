// game_loop.cpp -- one game from its set-up to its end: the loop, the launches and landings.
#include <cstdint>

#include "core/program.h"
#include "core/random.h"
#include "core/window_events.h"
#include "game/shooting_game.h"
#include "input/keyboard.h"
#include "sound/players.h"
#include "store/settings.h"

namespace qv {

namespace {

// Milliseconds from a stored tick count to now, modulo 2^32, so the clock's wrap is harmless.
uint32_t Since(Program& pg, int32_t start) {
  return pg.system.TickCount() - static_cast<uint32_t>(start);
}

// The first tick at which a deadline of limit ms after start has passed (strictly greater),
// summed modulo 2^32: a tick count past 2^31 is a negative start, which must not overflow.
uint32_t DueAfter(int32_t start, int32_t limit) {
  return static_cast<uint32_t>(start) + static_cast<uint32_t>(limit) + 1;
}

}  // namespace

int PanOfPosition(uint8_t position) { return position == 0 ? -10000 : position == 1 ? 0 : 10000; }

Screen NewGame(Program& pg) {
  GameState& g = pg.game;
  g.NewHighScore = false;
  g.Score = 0;
  g.Ammo = 6;
  g.GunLocked = false;
  g.Lives = 5;
  g.TargetCount = 0;
  g.Level = 1;
  g.TargetInFlight = false;
  g.Launched = false;
  g.FlightStart = 0;
  g.FlightElapsed = 0;
  g.WaitStart = 0;
  g.FlightLimit = 1500;
  g.WaitLimit = 1500;
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
  pg.sound.SetCurrentPosition(pg.bank.Music[0], 0);
  pg.sound.Play(pg.bank.Music[0], kPlayLooping);
  pg.sound.SetCurrentPosition(pg.bank.Music[1], 0);
  g.PerfectLevel = true;
  g.WaitStart = static_cast<int32_t>(pg.system.TickCount());
  g.FlightStart = g.WaitStart;
  // Closing the window ends the program at once; a better score of this game is kept first.
  pg.SaveOnClose = SaveSettings;

  while (g.GameRunning) {
    // The next moment the loop acts without a key: the launch, or the landing.
    const bool waiting = !g.TargetInFlight && !g.Launched;
    const uint32_t due =
        waiting ? DueAfter(g.WaitStart, g.WaitLimit) : DueAfter(g.FlightStart, g.FlightLimit);
    PollKeyboard(pg);
    DoEvents(pg, due);
    if (KeyDown(pg, kKeyEscape)) {  // acts while held, without the latch
      g.GameRunning = false;
      continue;
    }
    if (!g.TargetInFlight && !g.Launched && Since(pg, g.WaitStart) > static_cast<uint32_t>(g.WaitLimit)) {
      g.Launched = true;
      LaunchTarget(pg);
    }
    HandleGameKeys(pg);
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
  pg.sound.SetPan(launch, PanOfPosition(g.TargetPos));
  // The pitch carries no information: only the pan tells where the target is.
  pg.sound.SetFrequency(launch, RandomIntReseeded(pg, 28999, 14000));
  pg.sound.SetCurrentPosition(launch, 0);
  pg.sound.Play(launch, kPlayOnce);
  g.FlightElapsed = 0;
  g.FlightStart = static_cast<int32_t>(pg.system.TickCount());
  g.TargetResolved = false;
  g.GunLocked = false;
}

void LandTarget(Program& pg) {
  GameState& g = pg.game;
  pg.sound.Stop(pg.bank.LaunchSound);
  const BufferId land = pg.bank.LandSound;
  pg.sound.SetPan(land, PanOfPosition(g.TargetPos));
  pg.sound.Stop(land);
  pg.sound.SetCurrentPosition(land, 0);
  pg.sound.Play(land, kPlayOnce);
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
  g.WaitStart = static_cast<int32_t>(pg.system.TickCount());
}

}  // namespace qv

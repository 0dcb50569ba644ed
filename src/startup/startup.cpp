// startup.cpp -- Main, StartUp and ExitGame, and the loop over screens.
#include "startup/startup.h"

#include <cstdlib>
#include <exception>

#include "core/program.h"
#include "core/screens.h"
#include "game/bonus_round.h"
#include "game/shooting_game.h"
#include "menu/main_menu.h"
#include "menu/sound_tour.h"
#include "sound/players.h"
#include "sound/sound_bank.h"
#include "store/settings.h"

namespace qv {

const char* const kSoundDriverMessage =
    "Sound driver error. Please update your sound card drivers and make sure you have a working "
    "audio output through PipeWire, PulseAudio or ALSA.  For more information, please refer to "
    "https://www.quorvane.example or contact support@quorvane.example.";

void Main(Program& pg) {
  try {
    pg.rng.Seed(pg.system.ClockSeed());
    pg.system.ShowWindow();
    StartUp(pg);
  } catch (const SoundDeviceLost&) {
    // Lost in play and not back: the same message as when there is none at start.
    pg.system.MessageBox(kSoundDriverMessage);
    pg.system.Terminate(1);
  } catch (const std::exception& e) {
    pg.system.MessageBox(e.what());
    pg.system.Terminate(1);
  }
  std::abort();  // StartUp and Terminate never return
}

void StartUp(Program& pg) {
  if (!pg.sound.OpenSoundDevice()) {
    pg.system.MessageBox(kSoundDriverMessage);
    pg.system.Terminate(1);
  }
  // Set up the keyboard without acquiring it: the first poll finds it unacquired, repeats
  // the set-up and acquires it.
  if (!pg.input.CreateKeyboard()) throw PlatformError("Cannot set up the keyboard.");
  ReadStartupSettings(pg);
  LoadSoundBank(pg);
  PlayAndWait(pg, "empty.wav");
  PlayAndWait(pg, "intro.wav");
  // The screens hand over by returning the next one here, never by calling it.
  Screen screen = Screen::MainMenu;
  for (;;) {
    switch (screen) {
      case Screen::MainMenu:
        screen = MainMenu(pg);
        break;
      case Screen::NewGame:
        screen = NewGame(pg);
        break;
      case Screen::SelectDifficulty:
        screen = SelectDifficulty(pg);
        break;
      case Screen::Game:
        screen = RunGame(pg);
        break;
      case Screen::BonusRound:
        screen = StartBonusRound(pg);
        break;
      case Screen::SoundTour:
        screen = SoundTour(pg);
        break;
      case Screen::Exit:
        ExitGame(pg);
    }
  }
}

void ExitGame(Program& pg) {
  // Nothing is left to save here: every game stored its better score when it ended, and a save
  // now could only bring back a high score that Space+C has cleared since.
  StopGameSounds(pg);
  PlayAndWait(pg, "ending.wav");
  pg.system.Terminate(0);
  std::abort();  // Terminate never returns
}

}  // namespace qv

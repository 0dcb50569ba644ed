// startup.cpp -- Main, StartUp and ExitGame, and the loop over screens.
#include "startup/startup.h"

#include <cstdlib>
#include <exception>

#include "game/bonus_round.h"
#include "game/shooting_game.h"
#include "menu/main_menu.h"
#include "menu/screens.h"
#include "menu/sound_tour.h"
#include "sound/players.h"
#include "sound/sound_bank.h"
#include "startup/replays.h"
#include "store/settings.h"

namespace qv {

const char* const kSoundDriverMessage =
    "Sound driver error. Please update your sound card drivers and make sure you have a working "
    "audio output through PipeWire, PulseAudio or ALSA.  For more information, please refer to "
    "https://www.quorvane.example or contact support@quorvane.example.";

void Main(Program& pg) {
  System& system = pg.platform.system;
  try {
    pg.rng.Seed(system.ClockSeed());
    system.ShowWindow();
    StartUp(pg);
  } catch (const WindowClosed&) {
    // Whatever ran has ended at once; a game in play kept its better score on the way here, and
    // its replay is kept now.
    KeepReplay(pg, true);
    system.Terminate(0);
  } catch (const SoundDeviceLost&) {
    // Lost in play and not back: the same message as when there is none at start.
    system.MessageBox(kSoundDriverMessage);
    system.Terminate(1);
  } catch (const std::exception& e) {
    system.MessageBox(e.what());
    system.Terminate(1);
  }
  std::abort();  // StartUp and Terminate never return
}

void StartUp(Program& pg) {
  if (!pg.platform.sound.OpenSoundDevice()) {
    pg.platform.system.MessageBox(kSoundDriverMessage);
    pg.platform.system.Terminate(1);
  }
  // Set up the keyboard without acquiring it: the first poll finds it unacquired, repeats
  // the set-up and acquires it.
  if (!pg.platform.input.CreateKeyboard()) throw PlatformError("Cannot set up the keyboard.");
  const StoredMusicLevel music = ReadStartupSettings(pg.settings, pg.platform.system);
  pg.audio.MusicVolume = music.volume;
  pg.audio.MusicMuted = music.muted;
  LoadSoundBank(pg.audio);
  PlayAndWait(pg.audio, "empty.wav");
  PlayAndWait(pg.audio, "intro.wav");
  // The screens hand over by returning the next one here, never by calling it.
  Screen screen = Screen::MainMenu;
  for (;;) {
    switch (screen) {
      case Screen::MainMenu:
        screen = MainMenu(pg.menu);
        break;
      case Screen::NewGame:
        NewGame(pg.game);
        BeginReplay(pg, ReplayKind::Game);  // a game's replay starts with its difficulty choice
        screen = Screen::SelectDifficulty;
        break;
      case Screen::SelectDifficulty:
        screen = SelectDifficulty(pg.menu);
        if (screen == Screen::Game) {
          pg.replay.played = true;
        } else {
          AbandonReplay(pg);
        }
        break;
      case Screen::Game:
        RunGame(pg.game);
        KeepReplay(pg);
        screen = Screen::MainMenu;
        break;
      case Screen::BonusRound:
        BeginReplay(pg, ReplayKind::BonusRound);
        StartBonusRound(pg.game);
        KeepReplay(pg);
        screen = Screen::MainMenu;
        break;
      case Screen::SoundTour:
        screen = SoundTour(pg.menu);
        break;
      case Screen::Exit:
        ExitGame(pg);
    }
  }
}

void ExitGame(Program& pg) {
  // Nothing is left to save here: every game stored its better score when it ended, and a save
  // now could only bring back a high score that Space+C has cleared since.
  StopGameSounds(pg.audio);
  PlayAndWait(pg.audio, "ending.wav");
  pg.platform.system.Terminate(0);
  std::abort();  // Terminate never returns
}

}  // namespace qv

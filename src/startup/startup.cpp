// startup.cpp -- Main, StartUp and ExitGame, and the loop over screens.
#include "startup/startup.h"

#include <cstdlib>
#include <exception>

#include "common/keyboard.h"
#include "common/sound.h"
#include "common/sound_bank.h"
#include "startup/program.h"
#include "startup/settings.h"
#include "startup/window.h"

namespace qv {

const char* const kSoundDriverMessage =
    "Sound driver error. Please update your sound card drivers and make sure you have a working "
    "audio output through PipeWire, PulseAudio or ALSA.  For more information, please refer to "
    "https://www.quorvane.example or contact support@quorvane.example.";

namespace {

// The screens hand over by returning the next one to the loop in StartUp, so a long session of
// games and menus never deepens the stack.
enum class Screen { MainMenu };

// Until the main menu is built, start-up ends where it will begin: the menu music loops under
// the prompt and Escape leaves the game. The menu replaces this.
Screen MenuPromptOnly(Program& pg) {
  pg.platform.SetCurrentPosition(pg.bank.MenuMusic, 0);
  pg.platform.Play(pg.bank.MenuMusic, kPlayLooping);
  PlayAndWait(pg, "menuprompt.wav");
  for (;;) {
    PollKeyboard(pg);
    DoEvents(pg);
    if (KeyPressed(pg, kKeyEscape)) {
      pg.keyboard.KeyLatch[kKeyEscape] = true;
      StopAndRelease(pg, pg.bank.MenuMusic);
      ExitGame(pg);
    }
  }
}

Screen Enter(Program& pg, Screen screen) {
  switch (screen) {
    case Screen::MainMenu:
      return MenuPromptOnly(pg);
  }
  return Screen::MainMenu;
}

}  // namespace

void Main(Platform& platform) {
  Program pg(platform);
  Main(pg);
}

void Main(Program& pg) {
  try {
    pg.rng.Seed(pg.platform.ClockSeed());
    pg.platform.ShowWindow();
    StartUp(pg);
  } catch (const std::exception& e) {
    pg.platform.MessageBox(e.what());
    pg.platform.Terminate(1);
  }
  std::abort();  // StartUp and Terminate never return
}

void StartUp(Program& pg) {
  if (!pg.platform.OpenSoundDevice()) {
    pg.platform.MessageBox(kSoundDriverMessage);
    pg.platform.Terminate(1);
  }
  // The old cooperative level, primary buffer and 3D listener have no counterpart here: the
  // device mixes every buffer as it is.
  // Set up the keyboard without acquiring it: the first poll finds it unacquired, repeats
  // the set-up and acquires it.
  if (!pg.platform.CreateKeyboard()) throw PlatformError("Cannot set up the keyboard.");
  ReadStartupSettings(pg);
  LoadSoundBank(pg);
  PlayAndWait(pg, "empty.wav");
  PlayAndWait(pg, "intro.wav");
  Screen screen = Screen::MainMenu;
  for (;;) screen = Enter(pg, screen);
}

void ExitGame(Program& pg) {
  SaveSettings(pg);
  PlayAndWait(pg, "ending.wav");
  pg.platform.Terminate(0);
  std::abort();  // Terminate never returns
}

}  // namespace qv

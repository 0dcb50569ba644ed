// main_menu.cpp -- the main menu.
#include "menu/main_menu.h"

#include "core/program.h"
#include "core/window_events.h"
#include "input/keyboard.h"
#include "sound/players.h"

namespace qv {

// Until the menu's items are built: the music loops under the prompt and Escape leaves.
Screen MainMenu(Program& pg) {
  pg.sound.SetCurrentPosition(pg.bank.MenuMusic, 0);
  pg.sound.Play(pg.bank.MenuMusic, kPlayLooping);
  PlayAndWait(pg, "menuprompt.wav");
  for (;;) {
    PollKeyboard(pg);
    DoEvents(pg);
    if (KeyPressed(pg, kKeyEscape)) {
      pg.keyboard.KeyLatch[kKeyEscape] = true;
      StopAndRelease(pg, pg.bank.MenuMusic);
      return Screen::Exit;
    }
  }
}

}  // namespace qv

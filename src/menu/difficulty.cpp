// difficulty.cpp -- the difficulty selection before each game, over the menu music.
#include <string>

#include "core/program.h"
#include "core/window_events.h"
#include "input/keyboard.h"
#include "menu/main_menu.h"
#include "sound/music_volume.h"
#include "sound/players.h"

namespace qv {

namespace {

void AnnounceDifficulty(Program& pg) {
  SetMenuMusicVolume(pg, kDucked);
  PlaySound(pg, "diff" + std::to_string(pg.game.Difficulty) + ".wav", true);
  SetMenuMusicVolume(pg, 0);
}

}  // namespace

// None of its keys is latched: Up or Down held steps once per announcement.
Screen SelectDifficulty(Program& pg) {
  GameState& g = pg.game;
  g.Difficulty = 1;
  bool selecting = true;
  SetMenuMusicVolume(pg, kDucked);
  PlayAndWait(pg, "difficulty.wav");
  SetMenuMusicVolume(pg, 0);
  while (selecting) {
    PollKeyboard(pg);
    DoEvents(pg);
    HandleMusicKeys(pg);
    if (KeyPressed(pg, kKeyUp)) {
      g.Difficulty = g.Difficulty == 1 ? 3 : g.Difficulty - 1;
      AnnounceDifficulty(pg);
    }
    if (KeyPressed(pg, kKeyDown)) {
      g.Difficulty = g.Difficulty == 3 ? 1 : g.Difficulty + 1;
      AnnounceDifficulty(pg);
    }
    if (KeyPressed(pg, kKeyReturn)) return Screen::Game;
    if (KeyPressed(pg, kKeyEscape)) selecting = false;
  }
  return Screen::MainMenu;
}

}  // namespace qv

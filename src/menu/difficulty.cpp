// difficulty.cpp -- the difficulty selection before each game, over the menu music.
#include <string>

#include "core/window_events.h"
#include "input/keyboard.h"
#include "menu/main_menu.h"
#include "sound/music_volume.h"
#include "sound/players.h"

namespace qv {

namespace {

void AnnounceDifficulty(Menu& menu) {
  SetMenuMusicVolume(menu.audio, kDucked);
  PlaySound(menu.audio, "diff" + std::to_string(menu.game.state.Difficulty) + ".wav", true);
  SetMenuMusicVolume(menu.audio, 0);
}

}  // namespace

// None of its keys is latched: Up or Down held steps once per announcement.
Screen SelectDifficulty(Menu& menu) {
  GameState& g = menu.game.state;
  g.Difficulty = 1;
  bool selecting = true;
  SetMenuMusicVolume(menu.audio, kDucked);
  PlayAndWait(menu.audio, "difficulty.wav");
  SetMenuMusicVolume(menu.audio, 0);
  while (selecting) {
    PollKeyboard(menu.keyboard);
    DoEvents(menu.window);
    HandleMusicKeys(menu.audio);
    if (KeyPressed(menu.keyboard, kKeyUp)) {
      g.Difficulty = g.Difficulty == 1 ? 3 : g.Difficulty - 1;
      AnnounceDifficulty(menu);
    }
    if (KeyPressed(menu.keyboard, kKeyDown)) {
      g.Difficulty = g.Difficulty == 3 ? 1 : g.Difficulty + 1;
      AnnounceDifficulty(menu);
    }
    if (KeyPressed(menu.keyboard, kKeyReturn)) return Screen::Game;
    if (KeyPressed(menu.keyboard, kKeyEscape)) selecting = false;
  }
  return Screen::MainMenu;
}

}  // namespace qv

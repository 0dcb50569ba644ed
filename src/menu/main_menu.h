// main_menu.h -- the spoken main menu, the hub every other screen comes back to, and the
// difficulty selection before each game.
#pragma once

#include <cstdint>

#include "game/game.h"
#include "menu/screens.h"
#include "submit/submit_score.h"

namespace qv {

// The menu layer's own object: the main menu's selected item, with what the menus use below
// them.
struct Menu {
  Menu(Window& game_window, Keyboard& keys, Audio& sounds, Settings& store, Game& the_game,
       ScoreSender& score_sender)
      : window(game_window),
        keyboard(keys),
        audio(sounds),
        settings(store),
        game(the_game),
        sender(score_sender) {}

  Window& window;
  Keyboard& keyboard;
  Audio& audio;
  Settings& settings;
  Game& game;  // its record: the difficulty chosen
  ScoreSender& sender;

  uint8_t MenuItem = 0;  // the main menu's selected item, 0..3
};

// The menu music's volume under the menus' speech: 10 dB down.
constexpr int kDucked = -1000;

// Entered afresh (music from its beginning, the prompt, item 0) and run until the player
// chooses another screen, which it returns.
Screen MainMenu(Menu& menu);
// Speaks item 0..3 ("startgame", "calSpeakers", "sendscore", "exit") with the music ducked.
void AnnounceMenuItem(Menu& menu, uint8_t item);

// Asks for difficulty 1, 2 or 3 by ear, starting at 1: Return starts the game (Screen::Game),
// Escape goes back to a fresh main menu.
Screen SelectDifficulty(Menu& menu);

}  // namespace qv

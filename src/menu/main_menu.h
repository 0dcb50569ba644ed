// main_menu.h -- the spoken main menu, the hub every other screen comes back to, and the
// difficulty selection before each game.
#pragma once

#include <cstdint>

#include "core/screens.h"

namespace qv {

struct Program;

// The menu music's volume under the menus' speech: 10 dB down.
constexpr int kDucked = -1000;

// Entered afresh (music from its beginning, the prompt, item 0) and run until the player
// chooses another screen, which it returns.
Screen MainMenu(Program& pg);
// Speaks item 0..3 ("startgame", "calSpeakers", "sendscore", "exit") with the music ducked.
void AnnounceMenuItem(Program& pg, uint8_t item);

// Asks for difficulty 1, 2 or 3 by ear, starting at 1: Return starts the game (Screen::Game),
// Escape goes back to a fresh main menu.
Screen SelectDifficulty(Program& pg);

}  // namespace qv

// main_menu.h -- the spoken main menu, the hub every other screen comes back to.
#pragma once

#include "core/screens.h"

namespace qv {

struct Program;

// Entered afresh (music from its beginning, the prompt, item 0) and run until the player
// chooses another screen, which it returns.
Screen MainMenu(Program& pg);

}  // namespace qv

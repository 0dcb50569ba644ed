// screens.h -- the screens of the program. Each screen returns the one to enter next to the
// loop in StartUp, so a long session of games and menus never deepens the stack.
#pragma once

namespace qv {

enum class Screen {
  MainMenu,  // the main menu, entered afresh
  Exit,      // ExitGame: save, say goodbye, end
};

}  // namespace qv

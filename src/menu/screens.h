// screens.h -- the screens of the program. Each screen hands over to the next by returning it to
// the loop in StartUp, so a long session of games and menus never deepens the stack.
#pragma once

namespace qv {

enum class Screen {
  MainMenu,          // the main menu, entered afresh
  NewGame,           // a new game's set-up, then the difficulty selection
  SelectDifficulty,  // the difficulty selection before a game
  Game,              // the game itself, once the difficulty is chosen
  BonusRound,        // the bonus round
  SoundTour,         // the spoken tour of the keys and the game's sounds
  Exit,              // ExitGame: say goodbye, end
};

}  // namespace qv

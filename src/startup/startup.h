// startup.h -- the program's entry and its one orderly exit.
#pragma once

#include "startup/program.h"

namespace qv {

// The message shown when no sound device can be opened.
extern const char* const kSoundDriverMessage;

// The entry point: seeds the random generator, shows the window and runs StartUp. Never
// returns: the program ends in ExitGame, when the window is closed (status 0), or with an error
// report (a platform failure no one handles: message box naming what failed, exit status 1).
[[noreturn]] void Main(Program& pg);
// Opens the sound device and keyboard, reads the stored values, loads the sound bank, plays
// the introduction, then runs the screens, each returning the next.
[[noreturn]] void StartUp(Program& pg);
// Says goodbye and ends the program with status 0.
[[noreturn]] void ExitGame(Program& pg);

}  // namespace qv

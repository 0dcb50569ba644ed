// paths.h -- where the program finds its sounds: the "sounds" folder beside the executable
// or above it (a build folder inside the project), so it starts from any current directory.
#pragma once

#include <string>

namespace qv {

// The folder of the running executable.
std::string ExecutableDir();
// The first of <exe dir>/sounds, <exe dir>/../sounds, <exe dir>/../../sounds that holds
// "intro.wav"; when none does, <exe dir>/sounds (the load then fails naming the file).
std::string FindSoundsDir();

}  // namespace qv

// paths.h -- where the program finds its sounds, so it starts from any current directory: the
// "sounds" folder beside the executable (in its build folder, a link to the project's), or the
// data folder it was installed with.
#pragma once

#include <string>

namespace qv {

// The folder of the running executable.
std::string ExecutableDir();
// The first that holds "intro.wav" of: <exe dir>/sounds (a copy beside the program, or the
// link the build folder holds) and <exe dir>/../share/quorvane/sounds (installed). When
// neither does, <exe dir>/sounds (the load then fails naming the file).
std::string FindSoundsDir();

}  // namespace qv

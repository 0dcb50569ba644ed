// upward_include.cpp -- a file of the core layer that includes a header of the game, a layer
// above it. It must not compile: the test that builds it expects the include to be missing.
#include "game/target.h"

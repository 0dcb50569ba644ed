// downward_include.cpp -- a file of the core layer that includes its own header, which includes
// the seam below it. It must compile, so that the upward include's failure means something.
#include "core/program.h"

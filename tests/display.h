// display.h -- a display for the tests of the real backend that need a window: the one in
// DISPLAY, or a private Xvfb started once for the test process and stopped at its end.
#pragma once

namespace qv::test {

// True when a display is there (started if need be); false when none can be had.
bool EnsureDisplay();

}  // namespace qv::test

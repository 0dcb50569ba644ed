// input.h -- the seam's keyboard: an immediate 256-byte state by scan code, readable only while
// the game's window has the foreground, with the two recoverable failures of a lost keyboard.
#pragma once

#include <cstdint>

#include "platform/observer.h"

namespace qv {

// Outcome of a keyboard read.
enum class KeyRead { Ok, NotAcquired, InputLost, OtherError };

// The real keyboard tells its observers "key" for each change a read is the first to see; the
// simulator logs the keys its script and bot set itself.
class Input : public virtual Observable {
 public:
  virtual ~Input() = default;

  // Creates the keyboard device, not acquired. Called by startup (StartUp) and by input
  // (InitKeyboard).
  virtual bool CreateKeyboard() = 0;
  // Acquires it; fails while the window is in the background. Called by input (InitKeyboard).
  virtual bool AcquireKeyboard() = 0;
  // Fills state with the keys as they are now (bit 7 set: down). A key pressed and released
  // since the last turn of the window system reads as down once. Called by input
  // (PollKeyboard).
  virtual KeyRead ReadKeyboard(uint8_t state[256]) = 0;
};

}  // namespace qv

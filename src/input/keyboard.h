// keyboard.h -- the polled keyboard: the 256-byte key state by scan code, the per-key latches
// that make a key act once per press, and the device's recovery when the window loses focus.
#pragma once

#include <array>
#include <cstdint>

#include "platform/input.h"
#include "platform/scan_codes.h"

namespace qv {

// The keyboard as the polling loops see it. Its state changes only through the calls below: a
// poll reads it, and a key's latch is set by the one call that also tests the key.
class Keyboard {
 public:
  explicit Keyboard(Input& input) : input_(input) {}

  // The whole state, as a replay keeps it from the moment its recording began.
  struct Snapshot {
    std::array<uint8_t, 256> KeyState{};
    std::array<bool, 256> KeyLatch{};
  };
  Snapshot Save() const { return {KeyState, KeyLatch}; }
  void Restore(const Snapshot& s) {
    KeyState = s.KeyState;
    KeyLatch = s.KeyLatch;
  }

 private:
  friend bool KeyDown(const Keyboard&, int);
  friend bool KeyPressed(const Keyboard&, int);
  friend bool TakeKeyPress(Keyboard&, int);
  friend void PollKeyboard(Keyboard&);
  friend void InitKeyboard(Keyboard&);

  Input& input_;
  std::array<uint8_t, 256> KeyState{};  // a key is down when bit 7 of its byte is set
  std::array<bool, 256> KeyLatch{};     // true once the key's current press has been acted on
};

// True when the last successful poll saw the key down.
bool KeyDown(const Keyboard& keyboard, int scan_code);
// True when the key is down and its press has not been acted on yet. For the keys that act
// without their latch; the others act through TakeKeyPress.
bool KeyPressed(const Keyboard& keyboard, int scan_code);
// A key that acts once per press: true, and its press latched, when the key is down and its
// press has not been acted on yet; false otherwise.
bool TakeKeyPress(Keyboard& keyboard, int scan_code);

// One poll: read the keyboard into KeyState and clear the latches of keys that are up. A read
// that fails because the window lost the foreground re-creates the device. Called once per
// pass by every loop that reads keys.
void PollKeyboard(Keyboard& keyboard);
// The complete keyboard set-up, acquisition included; failures are silent (a later poll
// tries again).
void InitKeyboard(Keyboard& keyboard);

}  // namespace qv

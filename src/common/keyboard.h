// keyboard.h -- the polled keyboard: the 256-byte key state by scan code, the per-key latches
// that make a key act once per press, and the device's recovery when the window loses focus.
#pragma once

#include <array>
#include <cstdint>

namespace qv {

struct Program;

// Scan codes the game reads.
enum ScanCode : int {
  kKeyEscape = 1,
  kKeyReturn = 28,
  kKeyLeftCtrl = 29,
  kKeyS = 31,
  kKeyH = 35,
  kKeyL = 38,
  kKeyC = 46,
  kKeyB = 48,
  kKeySpace = 57,
  kKeyUp = 200,
  kKeyLeft = 203,
  kKeyRight = 205,
  kKeyDown = 208,
};

struct Keyboard {
  std::array<uint8_t, 256> KeyState{};  // a key is down when bit 7 of its byte is set
  std::array<bool, 256> KeyLatch{};     // true once the key's current press has been acted on
};

// True when the last successful poll saw the key down.
bool KeyDown(const Program& pg, int scan_code);
// True when the key is down and its press has not been acted on yet.
bool KeyPressed(const Program& pg, int scan_code);

// One poll: read the keyboard into KeyState and clear the latches of keys that are up. A read
// that fails because the window lost the foreground re-creates the device. Called once per
// pass by every loop that reads keys.
void PollKeyboard(Program& pg);
// The complete keyboard set-up, acquisition included; failures are silent (a later poll
// tries again).
void InitKeyboard(Program& pg);

}  // namespace qv

// keyboard.cpp -- keyboard poll, latches and recovery.
#include "input/keyboard.h"

namespace qv {

bool KeyDown(const Keyboard& keyboard, int scan_code) {
  return (keyboard.KeyState.at(static_cast<size_t>(scan_code)) & 0x80) != 0;
}

bool KeyPressed(const Keyboard& keyboard, int scan_code) {
  return KeyDown(keyboard, scan_code) && !keyboard.KeyLatch.at(static_cast<size_t>(scan_code));
}

bool TakeKeyPress(Keyboard& keyboard, int scan_code) {
  if (!KeyPressed(keyboard, scan_code)) return false;
  keyboard.KeyLatch[static_cast<size_t>(scan_code)] = true;
  return true;
}

void PollKeyboard(Keyboard& keyboard) {
  // Read into a scratch copy: a failed read must leave KeyState as the last good read left it.
  std::array<uint8_t, 256> state{};
  switch (keyboard.input_.ReadKeyboard(state.data())) {
    case KeyRead::Ok:
      keyboard.KeyState = state;
      for (size_t k = 0; k < 256; ++k) {
        if (keyboard.KeyLatch[k] && (state[k] & 0x80) == 0) keyboard.KeyLatch[k] = false;
      }
      return;
    case KeyRead::NotAcquired:
    case KeyRead::InputLost:
      InitKeyboard(keyboard);
      return;
    case KeyRead::OtherError:
      return;
  }
}

void InitKeyboard(Keyboard& keyboard) {
  if (!keyboard.input_.CreateKeyboard()) return;
  keyboard.input_.AcquireKeyboard();
}

}  // namespace qv

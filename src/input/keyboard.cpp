// keyboard.cpp -- keyboard poll, latch release and recovery.
#include "input/keyboard.h"

#include <array>
#include <cstdint>

#include "core/program.h"

namespace qv {

bool KeyDown(const Program& pg, int scan_code) {
  return (pg.keyboard.KeyState.at(static_cast<size_t>(scan_code)) & 0x80) != 0;
}

bool KeyPressed(const Program& pg, int scan_code) {
  return KeyDown(pg, scan_code) && !pg.keyboard.KeyLatch.at(static_cast<size_t>(scan_code));
}

void PollKeyboard(Program& pg) {
  // Read into a scratch copy: a failed read must leave KeyState as the last good read left it.
  std::array<uint8_t, 256> state{};
  switch (pg.input.ReadKeyboard(state.data())) {
    case KeyRead::Ok:
      pg.keyboard.KeyState = state;
      for (size_t k = 0; k < 256; ++k) {
        if (pg.keyboard.KeyLatch[k] && (state[k] & 0x80) == 0) pg.keyboard.KeyLatch[k] = false;
      }
      return;
    case KeyRead::NotAcquired:
    case KeyRead::InputLost:
      InitKeyboard(pg);
      return;
    case KeyRead::OtherError:
      return;
  }
}

void InitKeyboard(Program& pg) {
  if (!pg.input.CreateKeyboard()) return;
  pg.input.AcquireKeyboard();
}

}  // namespace qv

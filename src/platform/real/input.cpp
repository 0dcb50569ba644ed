// input.cpp -- the keyboard on SDL2: its state, with the keys the game controllers' buttons stand
// for, read while the window has the focus.
#include <SDL.h>

#include <algorithm>
#include <cstring>

#include "platform/key_names.h"
#include "platform/real/keymap.h"
#include "platform/real/machine.h"

namespace qv {

bool SdlInput::CreateKeyboard() {
  // Controllers press keys too; they are listened to once the window is there.
  if (system_.Window() != nullptr) system_.GameControllers().Start();
  created_ = true;
  acquired_ = false;
  return true;
}

bool SdlInput::AcquireKeyboard() {
  if (!created_ || !system_.HasFocus()) return false;
  acquired_ = true;
  return true;
}

KeyRead SdlInput::ReadKeyboard(uint8_t state[256]) {
  if (!acquired_) return KeyRead::NotAcquired;
  if (!system_.HasFocus()) {
    // Like a keyboard taken by another window: one "lost", then "not acquired" until the
    // game acquires it again, which only works once the window is back in front.
    acquired_ = false;
    return KeyRead::InputLost;
  }
  std::memset(state, 0, 256);
  int count = 0;
  const Uint8* keys = SDL_GetKeyboardState(&count);
  auto& pressed = system_.PressedThisTurn();
  std::array<bool, 512> held{};  // the keys the controllers' buttons hold down
  system_.GameControllers().AddHeldKeys(held);
  count = std::min(count, static_cast<int>(pressed.size()));
  for (int i = 0; i < count; ++i) {
    const auto k = static_cast<size_t>(i);
    if (keys[i] == 0 && !pressed[k] && !held[k]) continue;
    const uint8_t code = SetOneFromSdlScancode(i);
    if (code != 0) state[code] = 0x80;
  }
  pressed.fill(false);  // a key tapped within the last turn is seen by this read alone
  for (size_t k = 0; k < seen_.size(); ++k) {
    if (state[k] == seen_[k]) continue;
    seen_[k] = state[k];
    Tell("key", 0, KeyName(static_cast<int>(k)), state[k] != 0 ? "down" : "up");
  }
  return KeyRead::Ok;
}

}  // namespace qv

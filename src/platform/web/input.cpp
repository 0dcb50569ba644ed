// input.cpp -- the keyboard in the browser: the page's key events (and a game controller's
// buttons, as the keys they stand for) read as set-1 scan codes while the game area has the
// keyboard focus.
#include <cstring>

#include "platform/key_names.h"
#include "platform/web/page_calls.h"
#include "platform/web/web_platform.h"

namespace qv {

bool WebInput::CreateKeyboard() {
  created_ = true;
  acquired_ = false;
  return true;
}

bool WebInput::AcquireKeyboard() {
  if (!created_ || qv_page_has_focus() == 0) return false;
  acquired_ = true;
  return true;
}

KeyRead WebInput::ReadKeyboard(uint8_t state[256]) {
  if (!acquired_) return KeyRead::NotAcquired;
  std::memset(state, 0, 256);
  if (qv_page_read_keys(state) == 0) {
    // Like a keyboard taken by another window: one "lost", then "not acquired" until the game
    // acquires it again, which only works once the game area has the focus again.
    acquired_ = false;
    std::memset(state, 0, 256);
    return KeyRead::InputLost;
  }
  for (size_t k = 0; k < seen_.size(); ++k) {
    if (state[k] == seen_[k]) continue;
    seen_[k] = state[k];
    Tell("key", 0, KeyName(static_cast<int>(k)), state[k] != 0 ? "down" : "up");
  }
  return KeyRead::Ok;
}

}  // namespace qv

// keyboard.h -- the polled keyboard: the 256-byte key state by scan code, the per-key latches
// that make a key act once per press, and the device's recovery when the window loses focus.
#pragma once

#include "platform/scan_codes.h"

namespace qv {

struct Program;

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

// key_names.h -- the names the sound log and the simulator's scripts give the game's keys.
#pragma once

#include <optional>
#include <string>

namespace qv {

// The scan code of a key name (Escape Return LeftCtrl S H L C B Space Up Left Right Down PageUp
// PageDown M F1, any case) or of a number 0..255.
std::optional<int> KeyFromName(const std::string& name);
// The name the sound log shows for a scan code: one of the names above, else the number.
std::string KeyName(int scan_code);

}  // namespace qv

// script.h -- the simulator's input script: keys, waits on the sound log, window events.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv {

struct ScriptCommand {
  enum Kind { Sleep, Down, Up, Tap, Wait, Close, Blur, Focus } kind = Sleep;
  int ms = 0;           // sleep length, tap hold time
  int key = 0;          // scan code of down, up, tap
  std::string op;       // wait: the log operation
  std::string subject;  // wait: the file (or APP/SECTION/KEY for store)
  int line = 0;         // where it stands in the script, from 1
  std::string text;     // the line as written, for messages
};

// Parses a script; on a bad line returns nothing and describes it in *error.
std::optional<std::vector<ScriptCommand>> ParseScript(const std::string& text, std::string* error);

}  // namespace qv

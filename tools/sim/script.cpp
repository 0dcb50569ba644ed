// script.cpp -- parsing of simulator scripts.
#include "script.h"

#include <sstream>

#include "platform/key_names.h"

namespace qv {

namespace {

std::optional<int> WholeNumber(const std::string& s) {
  if (s.empty() || s.size() > 9) return std::nullopt;
  int n = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::optional<std::vector<ScriptCommand>> ParseScript(const std::string& text, std::string* error) {
  std::vector<ScriptCommand> commands;
  std::istringstream lines(text);
  std::string line;
  int line_no = 0;
  while (std::getline(lines, line)) {
    ++line_no;
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty() || w[0][0] == '#') continue;
    auto bad = [&](const std::string& why) {
      *error = "line " + std::to_string(line_no) + ": " + why + ": " + line;
      return std::nullopt;
    };
    ScriptCommand c;
    c.line = line_no;
    c.text = line;
    const std::string& verb = w[0];
    if (verb == "sleep" && w.size() == 2) {
      auto ms = WholeNumber(w[1]);
      if (!ms) return bad("bad time");
      c.kind = ScriptCommand::Sleep;
      c.ms = *ms;
    } else if ((verb == "down" || verb == "up") && w.size() == 2) {
      auto key = KeyFromName(w[1]);
      if (!key) return bad("unknown key");
      c.kind = verb == "down" ? ScriptCommand::Down : ScriptCommand::Up;
      c.key = *key;
    } else if (verb == "tap" && (w.size() == 2 || w.size() == 3)) {
      auto key = KeyFromName(w[1]);
      if (!key) return bad("unknown key");
      auto ms = w.size() == 3 ? WholeNumber(w[2]) : std::optional<int>(50);
      if (!ms) return bad("bad time");
      c.kind = ScriptCommand::Tap;
      c.key = *key;
      c.ms = *ms;
    } else if (verb == "wait" && w.size() == 3) {
      c.kind = ScriptCommand::Wait;
      c.op = w[1];
      c.subject = w[2];
    } else if (verb == "close" && w.size() == 1) {
      c.kind = ScriptCommand::Close;
    } else if (verb == "blur" && w.size() == 1) {
      c.kind = ScriptCommand::Blur;
    } else if (verb == "focus" && w.size() == 1) {
      c.kind = ScriptCommand::Focus;
    } else {
      return bad("unknown command");
    }
    commands.push_back(c);
  }
  return commands;
}

}  // namespace qv

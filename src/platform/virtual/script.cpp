// script.cpp -- parsing of simulator scripts and key names.
#include "platform/virtual/script.h"

#include <array>
#include <sstream>
#include <utility>

namespace qv {

namespace {

constexpr std::array<std::pair<const char*, int>, 13> kKeyNames = {{
    {"Escape", 1},
    {"Return", 28},
    {"LeftCtrl", 29},
    {"S", 31},
    {"H", 35},
    {"L", 38},
    {"C", 46},
    {"B", 48},
    {"Space", 57},
    {"Up", 200},
    {"Left", 203},
    {"Right", 205},
    {"Down", 208},
}};

bool SameIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

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

std::optional<int> KeyFromName(const std::string& name) {
  for (const auto& [key_name, code] : kKeyNames) {
    if (SameIgnoringCase(name, key_name)) return code;
  }
  auto n = WholeNumber(name);
  if (n && *n <= 255) return n;
  return std::nullopt;
}

std::string KeyName(int scan_code) {
  for (const auto& [key_name, code] : kKeyNames) {
    if (code == scan_code) return key_name;
  }
  return std::to_string(scan_code);
}

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

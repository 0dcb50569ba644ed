// key_names.cpp -- the table of key names.
#include "platform/key_names.h"

#include <array>
#include <utility>

#include "platform/scan_codes.h"

namespace qv {

namespace {

constexpr std::array<std::pair<const char*, int>, 17> kKeyNames = {{
    {"Escape", kKeyEscape},
    {"Return", kKeyReturn},
    {"LeftCtrl", kKeyLeftCtrl},
    {"S", kKeyS},
    {"H", kKeyH},
    {"L", kKeyL},
    {"C", kKeyC},
    {"B", kKeyB},
    {"Space", kKeySpace},
    {"Up", kKeyUp},
    {"Left", kKeyLeft},
    {"Right", kKeyRight},
    {"Down", kKeyDown},
    {"PageUp", kKeyPageUp},
    {"PageDown", kKeyPageDown},
    {"M", kKeyM},
    {"F1", kKeyF1},
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

}  // namespace

std::optional<int> KeyFromName(const std::string& name) {
  for (const auto& [key_name, code] : kKeyNames) {
    if (SameIgnoringCase(name, key_name)) return code;
  }
  if (name.empty() || name.size() > 3) return std::nullopt;
  int n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n > 255) return std::nullopt;
  return n;
}

std::string KeyName(int scan_code) {
  for (const auto& [key_name, code] : kKeyNames) {
    if (code == scan_code) return key_name;
  }
  return std::to_string(scan_code);
}

}  // namespace qv

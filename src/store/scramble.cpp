// scramble.cpp -- scrambling and unscrambling of stored values.
#include "store/scramble.h"

#include <cstdint>
#include <cstdio>

namespace qv {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string Scramble(Random& rng, const std::string& text) {
  auto key_digit = static_cast<int>(static_cast<double>(rng.Next()) * 9.0 + 1.0);
  return ScrambleWithKey(text, key_digit);
}

std::string ScrambleWithKey(const std::string& text, int key_digit) {
  std::string padded = text;
  if (padded.size() < 4) padded.resize(4, ' ');
  std::string out;
  for (size_t i = 1; i <= padded.size(); ++i) {
    if (i == 3) out += std::to_string(key_digit * 10);
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X",
                  static_cast<unsigned>(static_cast<unsigned char>(padded[i - 1])) +
                      static_cast<unsigned>(key_digit));
    out += hex;
  }
  return Trim(out);
}

std::string HexToNumber(const std::string& text) {
  // The counter wraps like the 32-bit value it is; callers pass at most two digits.
  uint32_t n = 0;
  for (char c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'F') {
      n = n * 16 + static_cast<uint32_t>(c - 55);
    } else if (c >= '0' && c <= '9') {
      n = n * 16 + static_cast<uint32_t>(c - '0');
    }
  }
  return std::to_string(static_cast<int32_t>(n));
}

std::string Unscramble(const std::string& text) {
  int key = 0;
  if (text.size() >= 5 && text[4] >= '0' && text[4] <= '9') key = text[4] - '0';
  std::string out;
  for (size_t i = 1; i <= text.size(); i += 2) {
    if (i == 5) continue;  // the key pair
    int v = std::stoi(HexToNumber(text.substr(i - 1, 2))) - key;
    if (v < 0 || v > 255) return {};  // damaged: no scrambled text gives this
    out += static_cast<char>(v);
  }
  return Trim(out);
}

}  // namespace qv

// scramble_fuzz.cpp -- fuzzes the reading of stored scrambled values: Unscramble and HexToNumber
// on any text, and scrambling followed by unscrambling. Input: a key digit, then the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/scramble.h"

namespace {

void Require(bool holds, const char* what, const std::string& text) {
  if (!holds) {
    std::fprintf(stderr, "scramble: %s (text of %zu bytes)\n", what, text.size());
    std::abort();
  }
}

// HexToNumber's answer worked out another way: only the last eight hex digits count in 32 bits.
std::string HexByLastDigits(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) digits += c;
  }
  if (digits.size() > 8) digits = digits.substr(digits.size() - 8);
  auto n = static_cast<uint32_t>(digits.empty() ? 0 : std::strtoul(digits.c_str(), nullptr, 16));
  return std::to_string(static_cast<int32_t>(n));
}

std::string TrimSpaces(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string whole(reinterpret_cast<const char*>(data), size);
  Require(qv::HexToNumber(whole) == HexByLastDigits(whole), "HexToNumber is wrong", whole);
  // A damaged value unscrambles to something (or nothing), never to more than its pairs.
  Require(qv::Unscramble(whole).size() <= (whole.size() + 1) / 2, "Unscramble is too long", whole);

  // Whatever Scramble writes as two hex digits a character (codes 16..255 once the key is
  // added) unscrambles to the text, less the spaces at its ends.
  const int key = 1 + data[0] % 9;
  const std::string text = whole.substr(1);
  for (unsigned char c : text) {
    if (c + key < 16 || c + key > 255) return 0;
  }
  const std::string scrambled = qv::ScrambleWithKey(text, key);
  Require(qv::Unscramble(scrambled) == TrimSpaces(text), "scrambled text does not come back", text);
  return 0;
}

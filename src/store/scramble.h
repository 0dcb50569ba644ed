// scramble.h -- the reversible scrambling that keeps the stored high score and its difficulty
// from being plain numbers in the settings file.
#pragma once

#include <string>

#include "core/random.h"

namespace qv {

// Scrambles text with a key digit (1..9) drawn from the game's random generator.
std::string Scramble(Random& rng, const std::string& text);
// The same with a given key digit: pads the text to 4 characters with spaces, writes each
// character code plus the key as upper-case hex, with the pair "<key>0" after the second.
std::string ScrambleWithKey(const std::string& text, int key_digit);
// Reverses Scramble. Forgiving: a missing key reads as 0, non-hex characters are skipped. A
// value that no scrambling could give (a character outside 0..255) gives an empty text.
std::string Unscramble(const std::string& text);
// Reads the hex digits of text (any case; other characters skipped) as a number, in decimal.
std::string HexToNumber(const std::string& text);

}  // namespace qv

// spoken_numbers.h -- saying a whole number aloud by joining recorded number words.
#pragma once

#include <cstdint>

namespace qv {

struct Program;

// Speaks the last six digits of value in plain English ("one hundred twenty three thousand
// four hundred fifty six"), one sample after another, centred, returning when the last has
// finished. The sign and the millions are not spoken. The game's SpeakNumber calls it.
void SpeakNumberWords(Program& pg, int32_t value);

}  // namespace qv

// spoken_numbers.h -- saying a whole number aloud by joining recorded number words.
#pragma once

#include <cstdint>

namespace qv {

struct Audio;

// Speaks the last six digits of value in plain English ("one hundred twenty three thousand
// four hundred fifty six"), one sample after another, centred, returning when the last has
// finished. The sign and the millions are not spoken. SpeakNumber calls it.
void SpeakNumberWords(Audio& audio, int32_t value);
// Stops the launch sound, so that no target is ever heard under a number, then speaks value
// (SpeakNumberWords). Used by the game keys, the level end, the final score and the main menu.
void SpeakNumber(Audio& audio, int32_t value);

}  // namespace qv

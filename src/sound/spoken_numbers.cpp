// spoken_numbers.cpp -- which number words a value is read as, and in what order.
#include "sound/spoken_numbers.h"

#include <string>

#include "sound/players.h"

namespace qv {

namespace {

// The value's decimal text with positions counted from its right end: position 1 is the units.
struct Digits {
  std::string text;
  size_t length() const { return text.size(); }
  // The character at position k (it must exist).
  char Char(size_t k) const { return text[text.size() - k]; }
  // Its digit value; the minus sign counts as 0.
  int Digit(size_t k) const {
    char c = Char(k);
    return c >= '0' && c <= '9' ? c - '0' : 0;
  }
};

void Say(Audio& audio, const std::string& file) { PlaySound(audio, "numbers/" + file, true); }

}  // namespace

void SpeakNumberWords(Audio& audio, int32_t value) {
  const Digits d{std::to_string(value)};
  const size_t len = d.length();

  // Hundreds of thousands.
  if (len > 5 && d.Digit(6) > 0) {
    Say(audio, std::string("sn") + d.Char(6) + ".wav");
    Say(audio, "hundred.wav");
  }
  // Tens of thousands from twenty up, then the thousands digit after them.
  if (len > 4 && d.Digit(5) > 1) Say(audio, std::string("sn") + d.Char(5) + "0.wav");
  if (len > 4 && d.Digit(5) > 1 && d.Char(4) != '0')
    Say(audio, std::string("sn") + d.Char(4) + ".wav");
  // Ten to nineteen thousand.
  if (len > 4 && d.Digit(5) == 1) Say(audio, std::string("sn1") + d.Char(4) + ".wav");
  // A thousands digit with no tens of thousands before it.
  if (len > 3 && d.Digit(4) > 0 && (len < 5 || d.Digit(5) == 0)) {
    Say(audio, std::string("sn") + d.Char(4) + ".wav");
  }
  if ((len > 5 && d.Digit(6) != 0) || (len > 4 && d.Digit(5) != 0) ||
      (len > 3 && d.Digit(4) != 0)) {
    Say(audio, "thousand.wav");
  }
  // Hundreds.
  if (len > 2 && d.Digit(3) > 0) {
    Say(audio, std::string("sn") + d.Char(3) + ".wav");
    Say(audio, "hundred.wav");
  }
  // Tens from twenty up; ten to nineteen; zero alone; the units.
  if (len > 1 && d.Digit(2) > 1) Say(audio, std::string("sn") + d.Char(2) + "0.wav");
  if (len > 1 && d.Digit(2) == 1) Say(audio, std::string("sn1") + d.Char(1) + ".wav");
  if (len == 1 && value == 0) Say(audio, "sn0.wav");
  if (len > 1 && d.Digit(2) != 1 && d.Digit(1) > 0)
    Say(audio, std::string("sn") + d.Char(1) + ".wav");
  if (len == 1 && d.Digit(1) > 0) Say(audio, std::string("sn") + d.Char(1) + ".wav");
}

void SpeakNumber(Audio& audio, int32_t value) {
  StopSound(audio, audio.bank.LaunchSound);
  SpeakNumberWords(audio, value);
}

}  // namespace qv

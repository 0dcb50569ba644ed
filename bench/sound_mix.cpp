// sound_mix.cpp -- what a player hears of a lost and a won game, measured on the simulator's
// render through the game's own mixer at the game's volumes; needs no sound server. Then, where
// Debian's pocketsphinx (with pocketsphinx-en-us) and sox are installed, how many of the
// phrases spoken in play a speech recogniser hears over the play as it hears them alone.
// Usage: sound_mix [--each] [SOUNDS_DIR] (default: the project's sounds); --each lists every
// phrase and launch, and what the recogniser heard.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mix_figures.h"
#include "platform/paths.h"
#include "platform/wave_file.h"

namespace {

namespace fs = std::filesystem;

// What pocketsphinx hears in these 44.1 kHz samples (its words, lower case), resampled to its
// 16 kHz by sox; nothing when it cannot run.
std::string Recognise(const std::vector<int16_t>& audio, size_t from, size_t to,
                      const fs::path& dir) {
  to = std::min(to, audio.size());
  if (from >= to) return "";
  const fs::path wide = dir / "phrase.wav", narrow = dir / "phrase16.wav";
  qv::WriteWave(wide.string(), 44100, 1, audio.data() + from, to - from);
  const std::string command = "sox '" + wide.string() + "' -r 16000 '" + narrow.string() +
                              "' 2>/dev/null && pocketsphinx_continuous -infile '" +
                              narrow.string() + "' -logfn /dev/null 2>/dev/null";
  std::string heard;
  if (FILE* out = popen(command.c_str(), "r")) {
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) heard += line;
    pclose(out);
  }
  for (char& c : heard) c = c == '\n' ? ' ' : c;
  while (!heard.empty() && heard.back() == ' ') heard.pop_back();
  return heard;
}

std::vector<std::string> Words(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool IsNumberWord(const std::string& w) {
  static const std::set<std::string> numbers = {
      "zero",    "one",       "two",      "three",    "four",    "five",     "six",      "seven",
      "eight",   "nine",      "ten",      "eleven",   "twelve",  "thirteen", "fourteen", "fifteen",
      "sixteen", "seventeen", "eighteen", "nineteen", "twenty",  "thirty",   "forty",    "fifty",
      "sixty",   "seventy",   "eighty",   "ninety",   "hundred", "thousand"};
  return numbers.count(w) != 0;
}

// Understood over the play: every word heard alone is heard, in order (a stray word the music
// adds between them does not hide them), and the number words are exactly those heard alone.
bool Understood(const std::string& alone, const std::string& over) {
  const std::vector<std::string> a = Words(alone), o = Words(over);
  size_t at = 0;
  for (const std::string& w : o) at += at < a.size() && w == a[at] ? 1 : 0;
  std::vector<std::string> na, no;
  std::copy_if(a.begin(), a.end(), std::back_inserter(na), IsNumberWord);
  std::copy_if(o.begin(), o.end(), std::back_inserter(no), IsNumberWord);
  return at == a.size() && na == no;
}

// Each phrase in play that is not alone, heard alone and over the play; prints how many the
// recogniser understands over the play as it heard them alone.
void RecogniseInPlay(const qv::Sessions& s, bool each) {
  if (std::system("command -v pocketsphinx_continuous >/dev/null && command -v sox >/dev/null") !=
      0) {
    std::puts(
        "speech recogniser: not installed (apt-get install pocketsphinx pocketsphinx-en-us sox)");
    return;
  }
  const fs::path dir = fs::temp_directory_path() / ("qv-sound-mix-asr-" + std::to_string(getpid()));
  fs::create_directories(dir);
  int phrases = 0, same = 0;
  for (const auto& [name, f] : {std::pair{"lost", &s.lost}, std::pair{"won", &s.won}}) {
    for (const qv::PhraseFigure& p : f->phrases) {
      if (p.alone) continue;
      // From the phrase's start to its last file's end, as 44.1 kHz frames.
      const size_t from = size_t{p.ms} * 441 / 10, to = size_t{p.end_ms} * 441 / 10;
      const std::string alone = Recognise(f->speech_audio, from, to, dir);
      const std::string over = Recognise(f->mix_audio, from, to, dir);
      const bool understood = Understood(alone, over);
      ++phrases;
      same += understood ? 1 : 0;
      if (each) {
        std::printf("  %s %8.1f s  %-14s alone \"%s\", in play \"%s\"\n", name, p.ms / 1000.0,
                    understood ? "understood" : "NOT UNDERSTOOD", alone.c_str(), over.c_str());
      }
    }
  }
  fs::remove_all(dir);
  std::printf(
      "speech recogniser (pocketsphinx, en-us): %d of %d phrases in play "
      "understood over the "
      "play as alone: every word, the numbers exactly (%.0f %%, goal 90)\n",
      same, phrases, phrases > 0 ? 100.0 * same / phrases : 0.0);
}

void Print(const char* name, const qv::MixFigures& f) {
  std::printf(
      "%s game: %.0f s rendered, exit %d; peak %.2f dBFS at %.1f s, %llu samples at full scale\n",
      name, f.ms / 1000.0, f.status, f.peak_db, f.peak_ms / 1000.0,
      static_cast<unsigned long long>(f.full_scale));
}

void PrintEach(const char* name, const qv::MixFigures& f) {
  for (const qv::PhraseFigure& p : f.phrases) {
    std::printf("  %s %8.1f s  %6.1f dB  %s\n", name, p.ms / 1000.0, p.over_db, p.words.c_str());
  }
  for (const qv::LaunchFigure& l : f.launches) {
    std::printf("  %s %8.1f s  launch pan %6d: onset %5.1f dB over the music, near/far %5.1f dB\n",
                name, l.ms / 1000.0, l.pan, l.over_music_db, l.near_over_far_db);
  }
}

std::string Figure(double db) {
  if (db >= qv::kAloneDb) return "alone";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", db);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const bool each = argc > 1 && std::string(argv[1]) == "--each";
  const std::string sounds = argc > 1 + each ? argv[1 + each] : qv::FindSoundsDir();
  std::puts(
      "How each figure is measured. A game lost (bot 1000 ms, too slow from level 4) and then\n"
      "a game won (bot 200 ms) with the bonus round, S, H and L pressed in play, run in the\n"
      "simulator; every buffer operation drives the game's mixer, speech, music, the launch\n"
      "sound and the other effects each in a stem of its own; the figures are read from the\n"
      "stems' power at the moments the sound log names.\n"
      "- speech over play: a phrase is a spoken file in a game or the bonus round with the\n"
      "  number words and \"points\" that follow it; the power of the speech stem over that of\n"
      "  all the rest mixed, both summed over the phrase's voiced 50 ms windows (within 30 dB\n"
      "  of its loudest), both channels. \"alone\": nothing else sounds during it.\n"
      "- launch onset over the music: the launch stem over the music stem in the first 100 ms\n"
      "  after each launch, on the launch's own channel (both for the centre).\n"
      "- near over far: the whole mix's channel on a side launch's side over the other, first\n"
      "  100 ms, with the music playing.\n"
      "- full scale: samples of the summed render (either channel) that round to the largest\n"
      "  16-bit value or beyond.");
  const std::string settings =
      (std::filesystem::temp_directory_path() / ("qv-sound-mix-" + std::to_string(getpid())))
          .string();
  const qv::Sessions s = qv::MeasureLostAndWon(sounds, settings, /*keep_audio=*/true);
  std::filesystem::remove(settings);
  Print("lost", s.lost);
  Print("won", s.won);
  if (each) {
    PrintEach("lost", s.lost);
    PrintEach("won", s.won);
  }

  std::vector<double> over, onset, sides;
  const qv::PhraseFigure* worst = nullptr;
  int alone = 0;
  for (const qv::MixFigures* f : {&s.lost, &s.won}) {
    for (const qv::PhraseFigure& p : f->phrases) {
      over.push_back(p.over_db);
      alone += p.alone ? 1 : 0;
      if (worst == nullptr || p.over_db < worst->over_db) worst = &p;
    }
    for (const qv::LaunchFigure& l : f->launches) {
      onset.push_back(l.over_music_db);
      if (l.pan != 0) sides.push_back(l.near_over_far_db);
    }
  }
  std::printf("speech over play, %zu phrases (%d alone): median %s dB, minimum %s dB\n",
              over.size(), alone, Figure(qv::Median(over)).c_str(),
              Figure(qv::Lowest(over)).c_str());
  if (worst != nullptr) {
    std::printf("  worst phrase: \"%s\" at %.1f s, %.1f dB\n", worst->words.c_str(),
                worst->ms / 1000.0, worst->over_db);
  }
  std::printf("launch onset over the music, %zu launches: median %.1f dB, minimum %.1f dB\n",
              onset.size(), qv::Median(onset), qv::Lowest(onset));
  std::printf("near over far, %zu side launches: median %.1f dB, minimum %.1f dB\n", sides.size(),
              qv::Median(sides), qv::Lowest(sides));
  std::fflush(stdout);
  RecogniseInPlay(s, each);
  return 0;
}

// mix_figures.h -- what a player hears of a whole simulated session, measured on its render:
// how far speech stands above the play under it, how the target cue starts against the music
// and on which side, and whether the sum reaches full scale. Used by the benchmark and the
// sound set's test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver.h"

namespace qv {

// Speech in a game or the bonus round: a spoken file with the number words and the "points"
// that follow it without a pause, such as "Cleared! two thousand ... points".
struct PhraseFigure {
  uint32_t ms = 0;      // when it starts
  std::string words;    // its files, "clear sn2 thousand points"
  uint32_t end_ms = 0;  // when its last file ends
  double over_db = 0;   // speech over everything else, over the phrase's voiced windows
  bool alone = false;   // nothing else sounds during it (over_db is then kAloneDb)
};

// A target's launch sound from its start.
struct LaunchFigure {
  uint32_t ms = 0;
  int pan = 0;
  double over_music_db = 0;     // first 100 ms: the launch over the music, on its own side
  double near_over_far_db = 0;  // first 100 ms, side launches: the whole mix's two channels
};

struct MixFigures {
  std::vector<PhraseFigure> phrases;
  std::vector<LaunchFigure> launches;
  uint64_t full_scale = 0;  // samples of the summed render at full scale (either channel)
  double peak_db = -200;    // the summed render's highest sample, dBFS
  uint32_t peak_ms = 0;     // and when it comes
  uint32_t ms = 0;          // the session's length
  int status = 0;           // the program's exit status; -1 when the time limit was reached
  // With keep_audio: the speech alone and the whole mix, each both channels summed, 16-bit,
  // at the render's 44.1 kHz, from the session's start (for a speech recogniser).
  std::vector<int16_t> speech_audio, mix_audio;
};

// Where a figure stands when nothing else sounds at all.
constexpr double kAloneDb = 99.0;

// Runs the program from Main on the virtual machine with options' script and bot, renders it
// with speech, music, the launch sound and the other effects as separate stems, and measures.
MixFigures MeasureMix(const SimOptions& options, bool keep_audio = false);

// The two sessions the benchmark and the sound set's test measure, sharing one settings file:
// a game lost (a bot too slow for level 4), then a game won (a quick bot; its level ends beat
// the first game's high score) followed by the bonus round. Both press S, H and L at moments in
// play. sounds_dir: the sound set to play; settings_path: a file that does not exist yet.
struct Sessions {
  MixFigures lost, won;
};
Sessions MeasureLostAndWon(const std::string& sounds_dir, const std::string& settings_path,
                           bool keep_audio = false);

// The median and the lowest of a list (0 for an empty list).
double Median(std::vector<double> values);
double Lowest(const std::vector<double>& values);

}  // namespace qv

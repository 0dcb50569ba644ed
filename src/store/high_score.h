// high_score.h -- the stored high score: its scrambled score and difficulty and the score-sent
// marker. These entries of the settings file are read and written here and nowhere else.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct Settings;

// Start-up: the stored high score (unscrambled, its leading number); 0 when there is none.
int32_t ReadHighScore(Settings& settings);
// Start-up: whether the stored high score has been sent; a stored non-zero number is true,
// anything that is not a number false.
bool ReadScoreSent(Settings& settings);

// A new high score: the score and its difficulty (each scrambled with its own key digit) and
// the sent marker "0" go into the file in one rewrite, so that no crash or close can leave one
// without the other. HighScore becomes score and ScoreSent false.
void StoreHighScore(Settings& settings, int32_t score, int difficulty);
// Space+C: the score and its difficulty become "0" in one rewrite, and HighScore 0.
void ClearHighScore(Settings& settings);
// A delivered submission: the sent marker "1" is stored and ScoreSent becomes true.
void MarkScoreSent(Settings& settings);

// What a submission sends: the stored difficulty and score, unscrambled ("" when missing).
struct StoredHighScore {
  std::string level;
  std::string score;
};
StoredHighScore ReadStoredHighScore(Settings& settings);
// A stored score worth sending: it reads back as a whole number above 0 (a cleared or damaged
// entry does not).
bool IsSendable(const StoredHighScore& stored);

}  // namespace qv

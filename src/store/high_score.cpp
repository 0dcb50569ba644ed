// high_score.cpp -- reading, storing, clearing and marking sent the stored high score.
#include "store/high_score.h"

#include "store/ini_store.h"
#include "store/scramble.h"
#include "store/settings.h"

namespace qv {

namespace {

// The names as the game has always spelled them at each use (names compare ignoring case, and
// existing files keep their own spelling): the same three entries of one section.
constexpr const char* kScoreSentApp = "quorvane";  // "1" once the high score has been sent
constexpr const char* kScoreSentSection = "settings";
constexpr const char* kScoreSentKey = "qv";
constexpr const char* kHighScoreApp = "QuorVane";  // the scrambled high score
constexpr const char* kHighScoreSection = "Settings";
constexpr const char* kHighScoreKey = "HighScore";
constexpr const char* kDifficultyApp = "Quorvane";  // the scrambled difficulty it was reached at
constexpr const char* kDifficultySection = "settings";
constexpr const char* kDifficultyKey = "Difficulty";
// Space+C has always written its "0"s under these spellings.
constexpr const char* kClearApp = "quorvane";
constexpr const char* kClearSection = "settings";
constexpr const char* kClearScoreKey = "highscore";
constexpr const char* kClearDifficultyKey = "difficulty";

}  // namespace

int32_t ReadHighScore(Settings& settings) {
  return LeadingNumber(
      Unscramble(ReadSetting(settings, kHighScoreApp, kHighScoreSection, kHighScoreKey, "0")));
}

bool ReadScoreSent(Settings& settings) {
  double sent = 0;
  return ParseNumber(ReadSetting(settings, kScoreSentApp, kScoreSentSection, kScoreSentKey, "0"),
                     &sent) &&
         sent != 0;
}

void StoreHighScore(Settings& settings, int32_t score, int difficulty) {
  StoreSettings(settings, {{kHighScoreApp, kHighScoreSection, kHighScoreKey,
                            Scramble(settings.rng, std::to_string(score))},
                           {kDifficultyApp, kDifficultySection, kDifficultyKey,
                            Scramble(settings.rng, std::to_string(difficulty))},
                           {kScoreSentApp, kScoreSentSection, kScoreSentKey, "0"}});
  settings.HighScore = score;
  settings.ScoreSent = false;
}

void ClearHighScore(Settings& settings) {
  StoreSettings(settings, {{kClearApp, kClearSection, kClearScoreKey, "0"},
                           {kClearApp, kClearSection, kClearDifficultyKey, "0"}});
  settings.HighScore = 0;
}

void MarkScoreSent(Settings& settings) {
  StoreSetting(settings, kScoreSentApp, kScoreSentSection, kScoreSentKey, "1");
  settings.ScoreSent = true;
}

StoredHighScore ReadStoredHighScore(Settings& settings) {
  return {Unscramble(ReadSetting(settings, kDifficultyApp, kDifficultySection, kDifficultyKey, "")),
          Unscramble(ReadSetting(settings, kHighScoreApp, kHighScoreSection, kHighScoreKey, ""))};
}

bool IsSendable(const StoredHighScore& stored) {
  const std::string& s = stored.score;
  if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long long n = std::stoll(s);
  return n > 0 && n <= INT32_MAX;
}

}  // namespace qv

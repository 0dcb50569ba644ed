// settings.h -- the entries the game keeps in the settings store, their reading at start-up,
// and SaveSettings, which stores a new high score at the end of a game and at exit.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct Program;

// The store's names as the game spells them at each use (names compare ignoring case).
namespace settings {
inline constexpr const char* kScoreSentApp = "quorvane";  // "quorvane/settings/qv"
inline constexpr const char* kScoreSentSection = "settings";
inline constexpr const char* kScoreSentKey = "qv";
inline constexpr const char* kHighScoreApp = "QuorVane";  // scrambled high score
inline constexpr const char* kHighScoreSection = "Settings";
inline constexpr const char* kHighScoreKey = "HighScore";
inline constexpr const char* kDifficultyApp = "Quorvane";  // scrambled difficulty of it
inline constexpr const char* kDifficultySection = "settings";
inline constexpr const char* kDifficultyKey = "Difficulty";
inline constexpr const char* kBonusApp = "QuorVane";  // "7" once the game has been won
inline constexpr const char* kBonusSection = "Settings";
inline constexpr const char* kBonusKey = "ba";
inline constexpr const char* kPlayerApp = "Quorvane";  // the player's own name and address
inline constexpr const char* kPlayerSection = "reg";
inline constexpr const char* kPlayerNameKey = "pname";
inline constexpr const char* kPlayerEmailKey = "pemail";
}  // namespace settings

// The number a whole text stands for, if it is one ("1", " -2 ", "3.5"); nothing otherwise.
bool ParseNumber(const std::string& text, double* value);
// The leading whole number of a text: leading spaces, an optional sign, the digits up to the
// first other character; 0 when there are no digits or the number does not fit 32 bits.
int32_t LeadingNumber(const std::string& text);

// The settings store, read afresh at each use: the entry, or default_value when it is missing.
std::string ReadSetting(Program& pg, const std::string& app, const std::string& section,
                        const std::string& key, const std::string& default_value);
// Sets the entry (the file is rewritten atomically) and records the store in the sound log.
// Throws PlatformError naming the entry when the file cannot be written.
void StoreSetting(Program& pg, const std::string& app, const std::string& section,
                  const std::string& key, const std::string& value);

// Start-up's two reads: the score-sent marker (a stored non-zero number is true; anything
// that is not a number reads as 0) and the high score (unscrambled, its leading number).
void ReadStartupSettings(Program& pg);
// Stops the level music and the launch sound; when this game beat the high score, makes it
// the high score and stores it, scrambled, with the difficulty it was reached at.
void SaveSettings(Program& pg);

}  // namespace qv

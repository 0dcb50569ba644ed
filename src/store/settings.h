// settings.h -- the settings store as the game uses it: reading and storing entries (logged),
// the reads of start-up with the check of the file, and SaveSettings, which keeps a game's
// better score when the game ends. The high score's own entries live in high_score.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/ini_store.h"

namespace qv {

struct Program;

// The store's names as the game spells them at each use (names compare ignoring case).
namespace settings {
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
// Sets the entries in one atomic rewrite of the file and records each store in the sound log.
// Throws PlatformError naming the entries when the file cannot be written. Stores and logs
// nothing when the file was refused at start-up.
void StoreSettings(Program& pg, const std::vector<IniEntry>& entries);
void StoreSetting(Program& pg, const std::string& app, const std::string& section,
                  const std::string& key, const std::string& value);

// Start-up: checks the settings file first (one that cannot be read, or is far too large, is
// reported in the message box and left alone: the game plays on and stores nothing), then
// reads the score-sent marker, the high score and the player's music level.
void ReadStartupSettings(Program& pg);
// The end of a game (Escape, game over, the win, the window closed) and each level end: a
// score above the high score becomes the high score, stored with its difficulty. A lower
// score is never stored. Stops no sound: that is the caller's.
void SaveSettings(Program& pg);

}  // namespace qv

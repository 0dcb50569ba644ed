// settings.h -- the settings store as the game uses it: reading and storing entries (logged),
// and the reads of start-up with the check of the file. The high score's own entries live in
// high_score.h, the music level's in music_settings.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/random.h"
#include "platform/sound_log.h"
#include "platform/system.h"
#include "store/ini_store.h"
#include "store/music_settings.h"

namespace qv {

// The store layer's own object: the settings file, the random generator that picks the
// scrambling's key digits, the sound log that records each store (null: nothing logged), and the
// stored high score as the program holds it. HighScore and ScoreSent are read at start-up and
// change only with their entries (high_score.h), so the two never disagree.
struct Settings {
  Settings(IniStore& settings_file, Random& random, SoundLog* sound_log)
      : file(settings_file), rng(random), log(sound_log) {}
  IniStore& file;
  Random& rng;
  SoundLog* log;

  int32_t HighScore = 0;   // the high score
  bool ScoreSent = false;  // it has been submitted
};

// The store's names as the game spells them at each use (names compare ignoring case).
namespace setting_names {
inline constexpr const char* kBonusApp = "QuorVane";  // "7" once the game has been won
inline constexpr const char* kBonusSection = "Settings";
inline constexpr const char* kBonusKey = "ba";
inline constexpr const char* kPlayerApp = "Quorvane";  // the player's own name and address
inline constexpr const char* kPlayerSection = "reg";
inline constexpr const char* kPlayerNameKey = "pname";
inline constexpr const char* kPlayerEmailKey = "pemail";
}  // namespace setting_names

// The number a whole text stands for, if it is one ("1", " -2 ", "3.5"); nothing otherwise.
bool ParseNumber(const std::string& text, double* value);
// The leading whole number of a text: leading spaces, an optional sign, the digits up to the
// first other character; 0 when there are no digits or the number does not fit 32 bits.
int32_t LeadingNumber(const std::string& text);

// The settings store, read afresh at each use: the entry, or default_value when it is missing.
std::string ReadSetting(Settings& settings, const std::string& app, const std::string& section,
                        const std::string& key, const std::string& default_value);
// Sets the entries in one atomic rewrite of the file and records each store in the sound log.
// Throws PlatformError naming the entries when the file cannot be written. Stores and logs
// nothing when the file was refused at start-up.
void StoreSettings(Settings& settings, const std::vector<IniEntry>& entries);
void StoreSetting(Settings& settings, const std::string& app, const std::string& section,
                  const std::string& key, const std::string& value);

// Start-up: checks the settings file first (one that cannot be read or written, or is far too
// large, is reported in the message box and left alone: the game plays on and stores nothing),
// then reads the score-sent marker and the high score, and gives the player's music level.
StoredMusicLevel ReadStartupSettings(Settings& settings, System& system);

}  // namespace qv

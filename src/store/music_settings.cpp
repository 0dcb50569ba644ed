// music_settings.cpp -- reading and storing the player's music level and mute.
#include "store/music_settings.h"

#include <string>

#include "store/settings.h"

namespace qv {

namespace {

constexpr const char* kMusicApp = "QuorVane";
constexpr const char* kMusicSection = "Settings";
constexpr const char* kMusicVolumeKey = "MusicVolume";
constexpr const char* kMusicMutedKey = "MusicMuted";

// A whole number from low to high, the whole text (spaces around it aside); nothing else.
bool WholeNumberIn(const std::string& text, int32_t low, int32_t high, int32_t* value) {
  double d = 0;
  if (!ParseNumber(text, &d) || d != static_cast<double>(static_cast<int64_t>(d))) return false;
  if (d < low || d > high) return false;
  *value = static_cast<int32_t>(d);
  return true;
}

}  // namespace

StoredMusicLevel ReadMusicSettings(Settings& settings) {
  int32_t volume = 0, muted = 0;
  if (!WholeNumberIn(ReadSetting(settings, kMusicApp, kMusicSection, kMusicVolumeKey, "0"),
                     kMusicVolumeFloor, 0, &volume)) {
    volume = 0;
  }
  if (!WholeNumberIn(ReadSetting(settings, kMusicApp, kMusicSection, kMusicMutedKey, "0"), 0, 1,
                     &muted)) {
    muted = 0;
  }
  return {volume, muted == 1};
}

void StoreMusicSettings(Settings& settings, const StoredMusicLevel& level) {
  StoreSettings(settings,
                {{kMusicApp, kMusicSection, kMusicVolumeKey, std::to_string(level.volume)},
                 {kMusicApp, kMusicSection, kMusicMutedKey, level.muted ? "1" : "0"}});
}

}  // namespace qv

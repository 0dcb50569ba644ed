// music_settings.h -- the player's music level and mute, as the settings file keeps them. These
// entries are read and written here and nowhere else.
#pragma once

#include <cstdint>

namespace qv {

struct Settings;

// The quietest the player may turn the music: 30 dB below the game's own volumes.
constexpr int32_t kMusicVolumeFloor = -3000;

// The level as stored: hundredths of a decibel (0 down to kMusicVolumeFloor), and the mute.
struct StoredMusicLevel {
  int32_t volume = 0;
  bool muted = false;
};

// Start-up: MusicVolume and MusicMuted (1 muted, 0 not). A missing or damaged entry (not a whole
// number, out of range) reads as 0, not muted.
StoredMusicLevel ReadMusicSettings(Settings& settings);
// Stores the level and the mute in one rewrite of the file.
void StoreMusicSettings(Settings& settings, const StoredMusicLevel& level);

}  // namespace qv

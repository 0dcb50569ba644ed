// music_settings.h -- the player's music level and mute, as the settings file keeps them. These
// entries are read and written here and nowhere else.
#pragma once

#include <cstdint>

namespace qv {

struct Program;

// The quietest the player may turn the music: 30 dB below the game's own volumes.
constexpr int32_t kMusicVolumeFloor = -3000;

// Start-up: MusicVolume (hundredths of a decibel, 0 down to kMusicVolumeFloor) and MusicMuted
// (1 muted, 0 not) into the program. A missing or damaged entry (not a whole number, out of
// range) reads as 0, not muted.
void ReadMusicSettings(Program& pg);
// Stores the program's music level and mute in one rewrite of the file.
void StoreMusicSettings(Program& pg);

}  // namespace qv

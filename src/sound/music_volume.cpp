// music_volume.cpp -- the player's music level on top of the game's own music volumes.
#include "sound/music_volume.h"

#include <algorithm>

#include "core/program.h"
#include "input/keyboard.h"
#include "store/music_settings.h"

namespace qv {

namespace {

constexpr int kSilent = -10000;

// What a track the game sets to `volume` is played at.
int Heard(const Program& pg, int volume) {
  if (pg.MusicMuted) return kSilent;
  return std::max(kSilent, volume + pg.MusicVolume);
}

void SetIfLoaded(Program& pg, BufferId music, int volume) {
  if (music != 0) pg.sound.SetVolume(music, Heard(pg, volume));
}

}  // namespace

void SetMenuMusicVolume(Program& pg, int volume) {
  pg.MenuMusicVolume = volume;
  SetIfLoaded(pg, pg.bank.MenuMusic, volume);
}

void ApplyMusicLevel(Program& pg) {
  SetIfLoaded(pg, pg.bank.MenuMusic, pg.MenuMusicVolume);
  // The game never changes the volume of these: they play at the level alone.
  for (BufferId music : pg.bank.Music) SetIfLoaded(pg, music, 0);
}

void HandleMusicKeys(Program& pg) {
  const int32_t volume = pg.MusicVolume;
  const bool muted = pg.MusicMuted;
  for (int key : {kKeyPageUp, kKeyPageDown, kKeyM}) {
    if (!KeyPressed(pg, key)) continue;
    pg.keyboard.KeyLatch[static_cast<size_t>(key)] = true;
    if (key == kKeyM) {
      pg.MusicMuted = !pg.MusicMuted;
      continue;
    }
    // A step the player can hear: a muted music comes back at the new level.
    const int step = key == kKeyPageUp ? kMusicVolumeStep : -kMusicVolumeStep;
    pg.MusicVolume = std::clamp(pg.MusicVolume + step, kMusicVolumeFloor, 0);
    pg.MusicMuted = false;
  }
  if (pg.MusicVolume == volume && pg.MusicMuted == muted) return;
  ApplyMusicLevel(pg);
  StoreMusicSettings(pg);
}

}  // namespace qv

// music_volume.cpp -- the player's music level on top of the game's own music volumes.
#include "sound/music_volume.h"

#include <algorithm>

#include "input/keyboard.h"
#include "sound/audio.h"
#include "store/music_settings.h"

namespace qv {

namespace {

constexpr int kSilent = -10000;

// What a track the game sets to `volume` is played at.
int Heard(const Audio& audio, int volume) {
  if (audio.MusicMuted) return kSilent;
  return std::max(kSilent, volume + audio.MusicVolume);
}

void SetIfLoaded(Audio& audio, BufferId music, int volume) {
  if (music != 0) audio.sound.SetVolume(music, Heard(audio, volume));
}

}  // namespace

void SetMenuMusicVolume(Audio& audio, int volume) {
  audio.MenuMusicVolume = volume;
  SetIfLoaded(audio, audio.bank.MenuMusic, volume);
}

void DuckPlay(Audio& audio, bool ducked) {
  const int volume = ducked ? kPlayDucked : 0;
  for (BufferId music : audio.bank.Music) SetIfLoaded(audio, music, volume);
  const SoundBank& b = audio.bank;
  for (BufferId effect : {b.GunSound, b.GlassSound, b.LandSound, b.BonusHitSound, b.BonusLandSound,
                          b.BonusMissSound}) {
    if (effect != 0) audio.sound.SetVolume(effect, volume);
  }
}

void ApplyMusicLevel(Audio& audio) {
  SetIfLoaded(audio, audio.bank.MenuMusic, audio.MenuMusicVolume);
  // The game never changes the volume of these: they play at the level alone.
  for (BufferId music : audio.bank.Music) SetIfLoaded(audio, music, 0);
}

void HandleMusicKeys(Audio& audio) {
  const int32_t volume = audio.MusicVolume;
  const bool muted = audio.MusicMuted;
  for (int key : {kKeyPageUp, kKeyPageDown, kKeyM}) {
    if (!TakeKeyPress(audio.keyboard, key)) continue;
    if (key == kKeyM) {
      audio.MusicMuted = !audio.MusicMuted;
      continue;
    }
    // A step the player can hear: a muted music comes back at the new level.
    const int step = key == kKeyPageUp ? kMusicVolumeStep : -kMusicVolumeStep;
    audio.MusicVolume = std::clamp(audio.MusicVolume + step, kMusicVolumeFloor, 0);
    audio.MusicMuted = false;
  }
  if (audio.MusicVolume == volume && audio.MusicMuted == muted) return;
  ApplyMusicLevel(audio);
  StoreMusicSettings(audio.settings, {audio.MusicVolume, audio.MusicMuted});
}

}  // namespace qv

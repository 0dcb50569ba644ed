// sound_bank.cpp -- loading the bank in its fixed order.
#include "sound/sound_bank.h"

#include "sound/music_volume.h"
#include "sound/players.h"

namespace qv {

void LoadSoundBank(Audio& audio) {
  SoundBank& b = audio.bank;
  LoadSound(audio, b.MenuMusic, "menumusic.wav");
  LoadSound(audio, b.Music[0], "level1.wav");
  LoadSound(audio, b.Music[1], "level2.wav");
  LoadSound(audio, b.GunSound, "gun.wav");
  LoadSound(audio, b.GlassSound, "glass.wav");
  LoadSound(audio, b.LandSound, "land.wav");
  LoadSound(audio, b.RechargeSound, "recharge.wav");
  LoadSound(audio, b.LaunchSound, "launch.wav");
  LoadSound(audio, b.WarningSound, "warning.wav");
  LoadSound(audio, b.EmptySound, "empty.wav");
  LoadSound(audio, b.LockedSound, "locked.wav");
  LoadSound(audio, b.BonusFallSound, "bonusFall.wav");
  LoadSound(audio, b.BonusHitSound, "bonushit.wav");
  LoadSound(audio, b.Music[2], "BonusMusic.wav");
  LoadSound(audio, b.BonusLandSound, "BonusLand.wav");
  LoadSound(audio, b.BonusMissSound, "bonusmiss.wav");
  // The music at the player's level, when it is not the files' own.
  if (audio.MusicVolume != 0 || audio.MusicMuted) ApplyMusicLevel(audio);
}

}  // namespace qv

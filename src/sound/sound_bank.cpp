// sound_bank.cpp -- loading the bank in its fixed order.
#include "sound/sound_bank.h"

#include "core/program.h"
#include "sound/music_volume.h"
#include "sound/players.h"

namespace qv {

void LoadSoundBank(Program& pg) {
  SoundBank& b = pg.bank;
  LoadSound(pg, b.MenuMusic, "menumusic.wav");
  LoadSound(pg, b.Music[0], "level1.wav");
  LoadSound(pg, b.Music[1], "level2.wav");
  LoadSound(pg, b.GunSound, "gun.wav");
  LoadSound(pg, b.GlassSound, "glass.wav");
  LoadSound(pg, b.LandSound, "land.wav");
  LoadSound(pg, b.RechargeSound, "recharge.wav");
  LoadSound(pg, b.LaunchSound, "launch.wav");
  LoadSound(pg, b.WarningSound, "warning.wav");
  LoadSound(pg, b.EmptySound, "empty.wav");
  LoadSound(pg, b.LockedSound, "locked.wav");
  LoadSound(pg, b.BonusFallSound, "bonusFall.wav");
  LoadSound(pg, b.BonusHitSound, "bonushit.wav");
  LoadSound(pg, b.Music[2], "BonusMusic.wav");
  LoadSound(pg, b.BonusLandSound, "BonusLand.wav");
  LoadSound(pg, b.BonusMissSound, "bonusmiss.wav");
  // The music at the player's level, when it is not the files' own.
  if (pg.MusicVolume != 0 || pg.MusicMuted) ApplyMusicLevel(pg);
}

}  // namespace qv

// music_volume.h -- the player's music level: every music track (the menu's, both levels', the
// bonus round's) heard that far below the volume the game gives it, or muted, changed with
// Page Up, Page Down and M in the menus and in play.
#pragma once

#include "platform/sound.h"

namespace qv {

struct Audio;

// One press of Page Up or Page Down moves the level this much (3 dB).
constexpr int kMusicVolumeStep = 300;

// Gives the menu music the volume the menus want for it (0, ducked under speech, silenced for
// the speaker check), heard at the player's level.
void SetMenuMusicVolume(Audio& audio, int volume);
// How far the level's music and the game's effects are lowered while the game speaks in play:
// twice as far as the menus lower their music under speech, since in play the speech carries
// numbers, which must be heard word for word over the music and a shatter (at 10 dB a speech
// recogniser still misheard a third of them; bench/sound_mix).
constexpr int kPlayDucked = -2000;

// Lowers (true) or brings back (false) the level music and the effects that ring on under
// speech in play (the shot, the shatter, the landing and the bonus round's), at the player's
// music level. Called by game around what it says in play: a level's end, the game's end, the
// score, high score and lives asked for, and the bonus round's final score.
void DuckPlay(Audio& audio, bool ducked);
// Sets every loaded music track to the player's level. Called once the bank is loaded, and
// after each change.
void ApplyMusicLevel(Audio& audio);
// Page Up and Page Down raise and lower the level (a muted music comes back with it), M mutes
// or unmutes; each acts once per press, is heard at once and is stored. Called once per pass
// by the loops of both menus, the game and the bonus round.
void HandleMusicKeys(Audio& audio);

}  // namespace qv

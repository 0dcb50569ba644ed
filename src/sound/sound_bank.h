// sound_bank.h -- loading the sixteen bank buffers (their record is in sound/audio.h).
#pragma once

namespace qv {

struct Audio;

// Loads all sixteen, in a fixed order, playing nothing, and sets the music to the player's
// level. Called once by StartUp.
void LoadSoundBank(Audio& audio);

}  // namespace qv

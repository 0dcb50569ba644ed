// sound_bank.h -- loading the sixteen bank buffers (their record is in core/program.h).
#pragma once

namespace qv {

struct Program;

// Loads all sixteen, in a fixed order, playing nothing, and sets the music to the player's
// level. Called once by StartUp.
void LoadSoundBank(Program& pg);

}  // namespace qv

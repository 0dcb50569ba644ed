// sound_bank.h -- loading the sixteen bank buffers (their record is in core/program.h), and
// stopping the bonus round's.
#pragma once

namespace qv {

struct Program;

// Loads all sixteen, in a fixed order, playing nothing. Called once by StartUp.
void LoadSoundBank(Program& pg);
// Stops the bonus music, the level 4-6 music and the falling sound. Called at the end of the
// bonus round.
void StopBonusSounds(Program& pg);

}  // namespace qv

// sound_bank.h -- loading the sixteen bank buffers (their record is in core/program.h).
#pragma once

namespace qv {

struct Program;

// Loads all sixteen, in a fixed order, playing nothing. Called once by StartUp.
void LoadSoundBank(Program& pg);

}  // namespace qv

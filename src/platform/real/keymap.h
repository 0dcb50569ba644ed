// keymap.h -- SDL scan codes (USB usage numbers) to the PC set-1 codes the game's keyboard
// array is indexed by (extended keys are 0x80 + their code, as DirectInput numbers them).
#pragma once

#include <cstdint>

namespace qv {

// The set-1 code of an SDL_Scancode, or 0 for a key the game's keyboard array has no slot for.
uint8_t SetOneFromSdlScancode(int sdl_scancode);

}  // namespace qv

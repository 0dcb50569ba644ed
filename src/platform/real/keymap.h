// keymap.h -- SDL scan codes (USB usage numbers) to the PC set-1 codes the game's keyboard
// array is indexed by (a key the keyboard sends with an E0 prefix, such as the arrows, is
// 0x80 + its code).
#pragma once

#include <cstdint>

namespace qv {

// The set-1 code of an SDL_Scancode, or 0 for a key the game's keyboard array has no slot for.
uint8_t SetOneFromSdlScancode(int sdl_scancode);

}  // namespace qv

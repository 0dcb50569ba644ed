// scan_codes.h -- the keyboard scan codes the game reads (PC set 1; the arrows are the extended
// keys, 0x80 + their code). Named here once, used everywhere.
#pragma once

namespace qv {

enum ScanCode : int {
  kKeyEscape = 1,
  kKeyReturn = 28,
  kKeyLeftCtrl = 29,
  kKeyS = 31,
  kKeyH = 35,
  kKeyL = 38,
  kKeyC = 46,
  kKeyB = 48,
  kKeyM = 50,
  kKeySpace = 57,
  kKeyF1 = 59,
  kKeyUp = 200,
  kKeyPageUp = 201,
  kKeyLeft = 203,
  kKeyRight = 205,
  kKeyDown = 208,
  kKeyPageDown = 209,
};

}  // namespace qv

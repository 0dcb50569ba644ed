// platform.h -- the whole seam as the program holds it: one reference to each of its four parts.
// Game code calls nothing else of the machine.
#pragma once

#include "platform/input.h"
#include "platform/scan_codes.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/transfer.h"

namespace qv {

struct Platform {
  System& system;
  Input& input;
  Sound& sound;
  Transfer& transfer;

  // Lets the observer hear every part (once, where parts are one object).
  void Watch(PlatformObserver& observer) const {
    system.Watch(observer);
    input.Watch(observer);
    sound.Watch(observer);
    transfer.Watch(observer);
  }
  void Unwatch(PlatformObserver& observer) const {
    system.Unwatch(observer);
    input.Unwatch(observer);
    sound.Unwatch(observer);
    transfer.Unwatch(observer);
  }
};

}  // namespace qv

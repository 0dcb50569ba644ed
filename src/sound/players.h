// players.h -- the players: loading a named bank buffer, the one-shot player, the interruptible
// player, and stopping or releasing a buffer variable.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "platform/scan_codes.h"
#include "platform/sound.h"
#include "sound/audio.h"

namespace qv {

// The keys that cut PlayAndWait short: Escape, Return, Left Ctrl, Space and the four arrows.
constexpr std::array<int, 8> InterruptKeys = {kKeyEscape, kKeyReturn, kKeyLeftCtrl, kKeySpace,
                                              kKeyUp,     kKeyLeft,   kKeyRight,    kKeyDown};

// Releases what the variable holds, then loads the file into a new buffer stored in it.
void LoadSound(Audio& audio, BufferId& buffer, const std::string& file_name);
// Loads the file into OneShotBuffer (cutting off the one-shot sound before it), centres it and
// plays it once; with wait, returns when it has stopped, without reading the keyboard. Every
// sound the game plays this way is speech or a signal meant for both ears.
void PlaySound(Audio& audio, const std::string& file_name, bool wait);
// Waits until no interrupt key is held, plays the file at full volume in a buffer of its own
// and returns when it ends or an interrupt key is pressed.
void PlayAndWait(Audio& audio, const std::string& file_name);
// Rewinds a bank buffer, places it at pan when one is given, and plays it (once, or looping).
void PlayFromStart(Audio& audio, BufferId buffer, std::optional<int> pan = std::nullopt,
                   PlayMode mode = kPlayOnce);
// Stops the buffer if the variable holds one; it keeps its position.
void StopSound(Audio& audio, BufferId buffer);
// Stops and releases the buffer if the variable holds one; the variable becomes empty.
void StopAndRelease(Audio& audio, BufferId& buffer);

}  // namespace qv

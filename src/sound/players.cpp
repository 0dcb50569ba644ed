// players.cpp -- the players and buffer-variable helpers. A buffer is made from its file alone:
// it holds the whole decoded file, and its pan, volume and frequency can always be set.
#include "sound/players.h"

#include "core/program.h"
#include "core/window_events.h"
#include "input/keyboard.h"

namespace qv {

namespace {

bool AnyInterruptKeyDown(const Program& pg) {
  for (int key : InterruptKeys) {
    if (KeyDown(pg, key)) return true;
  }
  return false;
}

}  // namespace

void LoadSound(Program& pg, BufferId& buffer, const std::string& file_name) {
  if (buffer != 0) pg.sound.Release(buffer);
  buffer = 0;  // a failed load leaves the variable empty
  buffer = pg.sound.CreateBuffer(file_name);
}

void PlaySound(Program& pg, const std::string& file_name, bool wait) {
  // Create first: a failed load leaves the previous one-shot buffer in place.
  BufferId fresh = pg.sound.CreateBuffer(file_name);
  if (pg.OneShotBuffer != 0) pg.sound.Release(pg.OneShotBuffer);
  pg.OneShotBuffer = fresh;
  pg.sound.SetPan(fresh, 0);
  pg.sound.Play(fresh, kPlayOnce);
  if (!wait) return;
  while (pg.sound.GetStatus(fresh) == kStatusPlaying) DoEvents(pg);
}

void PlayAndWait(Program& pg, const std::string& file_name) {
  // One press skips one sound: a key still held from the last skip must be let go first.
  while (AnyInterruptKeyDown(pg)) {
    DoEvents(pg);
    PollKeyboard(pg);
  }
  BufferId buffer = pg.sound.CreateBuffer(file_name);
  pg.sound.SetVolume(buffer, 0);
  pg.sound.Play(buffer, kPlayOnce);
  while ((pg.sound.GetStatus(buffer) & kStatusPlaying) != 0) {
    DoEvents(pg);
    PollKeyboard(pg);
    if (AnyInterruptKeyDown(pg)) {
      pg.sound.Stop(buffer);
      break;
    }
  }
  pg.sound.Stop(buffer);
  pg.sound.Release(buffer);
}

void PlayFromStart(Program& pg, BufferId buffer, std::optional<int> pan, PlayMode mode) {
  pg.sound.SetCurrentPosition(buffer, 0);
  if (pan) pg.sound.SetPan(buffer, *pan);
  pg.sound.Play(buffer, mode);
}

void StopSound(Program& pg, BufferId buffer) {
  if (buffer != 0) pg.sound.Stop(buffer);
}

void StopAndRelease(Program& pg, BufferId& buffer) {
  if (buffer == 0) return;
  pg.sound.Stop(buffer);
  pg.sound.Release(buffer);
  buffer = 0;
}

}  // namespace qv

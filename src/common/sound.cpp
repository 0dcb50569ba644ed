// sound.cpp -- the players and buffer-variable helpers.
//
// The old description fields (flags, a 44100-byte size, the 3D algorithm) have no meaning for
// our buffers: they are sized from the file, and pan, volume and frequency always work.
#include "common/sound.h"

#include "common/keyboard.h"
#include "startup/program.h"
#include "startup/window.h"

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
  if (buffer != 0) pg.platform.Release(buffer);
  buffer = 0;  // a failed load leaves the variable empty
  buffer = pg.platform.CreateBuffer(file_name);
}

void PlaySound(Program& pg, const std::string& file_name, int pan, bool wait) {
  // Create first: a failed load leaves the previous one-shot buffer in place.
  BufferId fresh = pg.platform.CreateBuffer(file_name);
  if (pg.OneShotBuffer != 0) pg.platform.Release(pg.OneShotBuffer);
  pg.OneShotBuffer = fresh;
  pg.platform.SetPan(fresh, pan);
  pg.platform.Play(fresh, kPlayOnce);
  if (!wait) return;
  while (pg.platform.GetStatus(fresh) == kStatusPlaying) DoEvents(pg);
}

void PlayAndWait(Program& pg, const std::string& file_name) {
  // One press skips one sound: a key still held from the last skip must be let go first.
  while (AnyInterruptKeyDown(pg)) {
    DoEvents(pg);
    PollKeyboard(pg);
  }
  BufferId buffer = pg.platform.CreateBuffer(file_name);
  pg.platform.SetVolume(buffer, 0);
  pg.platform.Play(buffer, kPlayOnce);
  while ((pg.platform.GetStatus(buffer) & kStatusPlaying) != 0) {
    DoEvents(pg);
    PollKeyboard(pg);
    if (AnyInterruptKeyDown(pg)) {
      pg.platform.Stop(buffer);
      break;
    }
  }
  pg.platform.Stop(buffer);
  pg.platform.Release(buffer);
}

void StopSound(Program& pg, BufferId buffer) {
  if (buffer != 0) pg.platform.Stop(buffer);
}

void StopAndRelease(Program& pg, BufferId& buffer) {
  if (buffer == 0) return;
  pg.platform.Stop(buffer);
  pg.platform.Release(buffer);
  buffer = 0;
}

}  // namespace qv

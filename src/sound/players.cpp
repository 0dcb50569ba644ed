// players.cpp -- the players and buffer-variable helpers. A buffer is made from its file alone:
// it holds the whole decoded file, and its pan, volume and frequency can always be set.
#include "sound/players.h"

#include "core/window_events.h"
#include "input/keyboard.h"

namespace qv {

namespace {

bool AnyInterruptKeyDown(const Keyboard& keyboard) {
  for (int key : InterruptKeys) {
    if (KeyDown(keyboard, key)) return true;
  }
  return false;
}

}  // namespace

void LoadSound(Audio& audio, BufferId& buffer, const std::string& file_name) {
  if (buffer != 0) audio.sound.Release(buffer);
  buffer = 0;  // a failed load leaves the variable empty
  buffer = audio.sound.CreateBuffer(file_name);
}

void PlaySound(Audio& audio, const std::string& file_name, bool wait) {
  // Create first: a failed load leaves the previous one-shot buffer in place.
  BufferId fresh = audio.sound.CreateBuffer(file_name);
  if (audio.OneShotBuffer != 0) audio.sound.Release(audio.OneShotBuffer);
  audio.OneShotBuffer = fresh;
  audio.sound.SetPan(fresh, 0);
  audio.sound.Play(fresh, kPlayOnce);
  if (!wait) return;
  while (audio.sound.GetStatus(fresh) == kStatusPlaying) DoEvents(audio.window);
}

void PlayAndWait(Audio& audio, const std::string& file_name) {
  // One press skips one sound: a key still held from the last skip must be let go first.
  while (AnyInterruptKeyDown(audio.keyboard)) {
    DoEvents(audio.window);
    PollKeyboard(audio.keyboard);
  }
  BufferId buffer = audio.sound.CreateBuffer(file_name);
  audio.sound.SetVolume(buffer, 0);
  audio.sound.Play(buffer, kPlayOnce);
  while ((audio.sound.GetStatus(buffer) & kStatusPlaying) != 0) {
    DoEvents(audio.window);
    PollKeyboard(audio.keyboard);
    if (AnyInterruptKeyDown(audio.keyboard)) {
      audio.sound.Stop(buffer);
      break;
    }
  }
  audio.sound.Stop(buffer);
  audio.sound.Release(buffer);
}

void PlayFromStart(Audio& audio, BufferId buffer, std::optional<int> pan, PlayMode mode) {
  audio.sound.SetCurrentPosition(buffer, 0);
  if (pan) audio.sound.SetPan(buffer, *pan);
  audio.sound.Play(buffer, mode);
}

void StopSound(Audio& audio, BufferId buffer) {
  if (buffer != 0) audio.sound.Stop(buffer);
}

void StopAndRelease(Audio& audio, BufferId& buffer) {
  if (buffer == 0) return;
  audio.sound.Stop(buffer);
  audio.sound.Release(buffer);
  buffer = 0;
}

}  // namespace qv

// sound.cpp -- the game's sound buffers in the browser: each a voice of the game's own mixer,
// which runs in the page's audio thread (page/mixer_worklet.js over mixer_worklet.cpp); this
// side sends it the game's commands and keeps what GetStatus must answer.
#include "platform/web/page_calls.h"
#include "platform/web/web_platform.h"

namespace qv {

bool WebSound::OpenSoundDevice() {
  open_ = qv_page_sound_open() != 0;
  return open_;
}

WebSound::Buffer& WebSound::Find(BufferId id, const char* operation) {
  auto it = buffers_.find(id);
  if (it == buffers_.end()) {
    throw PlatformError(std::string("Sound buffer ") + operation + " failed: no buffer " +
                        std::to_string(id));
  }
  return it->second;
}

void WebSound::Send(const char* op, BufferId id, Buffer& b, int value) {
  qv_page_sound(op, id, value, ++b.seq);
}

void WebSound::TellBuffer(std::string_view op, BufferId id, std::string_view value) {
  Tell(op, id, buffers_.at(id).file, value);
}

BufferId WebSound::CreateBuffer(const std::string& file) {
  const std::string fail = "Cannot load sound file " + file + ": ";
  if (!open_) throw PlatformError(fail + "no sound device is open");
  uint32_t info[3] = {0, 0, 0};
  char reason[200] = "";
  if (qv_page_sound_load(file.c_str(), info, reason, sizeof reason) != 0) {
    throw PlatformError(fail + reason);
  }
  const BufferId id = next_id_++;
  Buffer b;
  b.file = file;
  b.frame_bytes = 2u * (info[1] == 0 ? 1u : info[1]);
  buffers_.emplace(id, b);
  qv_page_sound_add(id, file.c_str());
  Tell("load", id, file, "");
  return id;
}

void WebSound::Play(BufferId id, PlayMode mode) {
  Buffer& b = Find(id, "play");
  b.playing = true;
  b.looping = mode == kPlayLooping;
  Send("play", id, b, b.looping ? 1 : 0);
  TellBuffer("play", id, b.looping ? "loop" : "once");
}

void WebSound::Stop(BufferId id) {
  Buffer& b = Find(id, "stop");
  b.playing = false;
  Send("stop", id, b, 0);
  TellBuffer("stop", id, "");
}

void WebSound::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  Buffer& b = Find(id, "position");
  Send("position", id, b, static_cast<int>(byte_offset / b.frame_bytes));
  TellBuffer("position", id, std::to_string(byte_offset));
}

void WebSound::SetVolume(BufferId id, int hundredths_db) {
  Buffer& b = Find(id, "volume");
  Send("volume", id, b, hundredths_db);
  TellBuffer("volume", id, std::to_string(hundredths_db));
}

void WebSound::SetPan(BufferId id, int pan) {
  Buffer& b = Find(id, "pan");
  Send("pan", id, b, pan);
  TellBuffer("pan", id, std::to_string(pan));
}

void WebSound::SetFrequency(BufferId id, int hertz) {
  Buffer& b = Find(id, "frequency");
  Send("frequency", id, b, hertz);
  TellBuffer("frequency", id, std::to_string(hertz));
}

int WebSound::GetStatus(BufferId id) {
  Find(id, "status");
  TakeEnds();
  const Buffer& b = buffers_.at(id);
  if (!b.playing) return 0;
  return kStatusPlaying | (b.looping ? kStatusLooping : 0);
}

void WebSound::Release(BufferId id) {
  Buffer& b = Find(id, "release");
  const std::string file = b.file;
  Send("remove", id, b, 0);
  buffers_.erase(id);
  Tell("release", id, file, "");
}

void WebSound::TakeEnds() {
  int ends[64];
  for (;;) {
    const int n = qv_page_sound_ended(ends, 32);
    for (int i = 0; i < n; ++i) {
      auto it = buffers_.find(ends[2 * i]);
      if (it != buffers_.end() && it->second.seq == ends[2 * i + 1]) it->second.playing = false;
    }
    if (n < 32) return;
  }
}

}  // namespace qv

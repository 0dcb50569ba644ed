// mixer_worklet.cpp -- the game's own mixer (platform/mixer.cpp) as a small WebAssembly module of
// its own, for the page's audio thread (page/mixer_worklet.js): plain C functions over one
// Mixer and the decoded sounds it plays, each sound held once however many voices play it.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/mixer.h"

namespace {

// Made by qv_mixer_start, for the life of the audio thread.
qv::Mixer* mixer = nullptr;
std::vector<std::shared_ptr<qv::Pcm>>* sounds = nullptr;
std::vector<float>* out = nullptr;

}  // namespace

extern "C" {

void qv_mixer_start(uint32_t rate, uint32_t frames) {
  mixer = new qv::Mixer(rate);
  sounds = new std::vector<std::shared_ptr<qv::Pcm>>();
  out = new std::vector<float>(2 * frames);
}

// A sound's frames to be filled in by the caller at qv_sound_samples(index); its index.
int qv_sound_new(uint32_t frames, uint32_t channels, uint32_t rate) {
  auto pcm = std::make_shared<qv::Pcm>();
  pcm->frames = frames;
  pcm->channels = static_cast<uint16_t>(channels);
  pcm->rate = rate;
  pcm->samples.reset(new int16_t[static_cast<size_t>(frames) * channels]());
  sounds->push_back(std::move(pcm));
  return static_cast<int>(sounds->size()) - 1;
}

int16_t* qv_sound_samples(int index) {
  return (*sounds)[static_cast<size_t>(index)]->samples.get();
}

void qv_voice_add(int id, int sound) { mixer->Add(id, (*sounds)[static_cast<size_t>(sound)]); }
void qv_voice_remove(int id) { mixer->Remove(id); }
void qv_voice_play(int id, int looping) { mixer->Play(id, looping != 0); }
void qv_voice_stop(int id) { mixer->Stop(id); }
void qv_voice_position(int id, uint32_t frame) { mixer->SetPosition(id, frame); }
void qv_voice_volume(int id, int hundredths_db) { mixer->SetVolume(id, hundredths_db); }
void qv_voice_pan(int id, int pan) { mixer->SetPan(id, pan); }
void qv_voice_frequency(int id, int hertz) { mixer->SetFrequency(id, hertz); }
int qv_voice_playing(int id) { return mixer->State(id).playing ? 1 : 0; }

// Mixes `frames` stereo frames (left, right interleaved) and says where they are.
float* qv_mix(uint32_t frames) {
  if (out->size() < 2u * frames) out->resize(2u * frames);
  mixer->Mix(out->data(), frames);
  return out->data();
}
}

// render.cpp -- a machine's buffer operations mirrored onto mixer voices, mixed as its time goes.
#include "platform/render.h"

#include <algorithm>
#include <cstdlib>

namespace qv {

Render::Render(Platform machine, std::string sounds_dir, AccountOf account, Sink sink, int stems,
               StemOf stem_of, uint32_t rate)
    : machine_(machine),
      sounds_dir_(std::move(sounds_dir)),
      account_(std::move(account)),
      sink_(std::move(sink)),
      stem_of_(std::move(stem_of)),
      blocks_(static_cast<size_t>(std::max(1, stems))),
      rate_(rate) {
  for (size_t s = 0; s < blocks_.size(); ++s) mixers_.push_back(std::make_unique<Mixer>(rate_));
  machine_.Watch(*this);
}

Render::~Render() { machine_.Unwatch(*this); }

void Render::AdvanceTo(uint64_t ms) {
  const uint64_t until = ms * rate_ / 1000;
  if (until <= frames_) return;
  const size_t n = static_cast<size_t>(until - frames_);
  for (size_t s = 0; s < blocks_.size(); ++s) {
    blocks_[s].resize(2 * n);
    mixers_[s]->Mix(blocks_[s].data(), n);
  }
  frames_ = until;
  if (sink_) sink_(blocks_, n);
  // Sounds the machine has played to their end meanwhile.
  for (auto& [id, playing] : playing_) {
    if (!playing) continue;
    const std::optional<Account> account = account_(id);
    playing = account && account->playing;
  }
}

double Render::FrameOf(BufferId id) {
  const std::optional<Account> account = account_(id);
  return account ? account->frame : 0;
}

void Render::Load(BufferId id, const std::string& file) {
  auto& pcm = decoded_[file];
  if (pcm == nullptr) pcm = std::make_shared<const Pcm>(ReadWave(sounds_dir_ + "/" + file));
  const int stem = stem_of_ ? stem_of_(file) : 0;
  stem_[id] = std::clamp(stem, 0, static_cast<int>(mixers_.size()) - 1);
  playing_[id] = false;
  MixerOf(id).Add(id, pcm);
}

void Render::AddPlaying(BufferId id, const std::string& file, int volume, int pan, int frequency,
                        bool playing, bool looping, uint32_t frame) {
  Load(id, file);
  Mixer& m = MixerOf(id);
  m.SetVolume(id, volume);
  m.SetPan(id, pan);
  if (frequency > 0) m.SetFrequency(id, frequency);
  m.SetPosition(id, frame);
  if (playing) {
    m.Play(id, looping);
    playing_[id] = true;
  }
}

void Render::Saw(const PlatformEvent& e) {
  if (ms_) AdvanceTo(ms_());
  const BufferId id = e.id;
  if (e.op == "load") {
    Load(id, std::string(e.subject));
  } else if (e.op == "play") {
    Play(id, e.value == "loop");
  } else if (e.op == "stop") {
    playing_[id] = false;
    MixerOf(id).Stop(id);
  } else if (e.op == "position") {
    MixerOf(id).SetPosition(id, static_cast<uint32_t>(FrameOf(id)));
  } else if (e.op == "volume") {
    MixerOf(id).SetVolume(id, std::stoi(std::string(e.value)));
  } else if (e.op == "pan") {
    MixerOf(id).SetPan(id, std::stoi(std::string(e.value)));
  } else if (e.op == "frequency") {
    MixerOf(id).SetFrequency(id, std::stoi(std::string(e.value)));
  } else if (e.op == "release") {
    MixerOf(id).Remove(id);
    stem_.erase(id);
    playing_.erase(id);
  }
}

void Render::Play(BufferId id, bool looping) {
  const bool was_playing = playing_[id];
  playing_[id] = true;
  Mixer& m = MixerOf(id);
  // The machine's count of frames decides where a sound is and when it ends; the mixer steps
  // in fixed point and may reach an end a millisecond apart. So a sound the machine had ended
  // starts again from the machine's position even if the mixer still has a frame or two of it,
  // and one the machine still played goes on only if the mixer still plays it too.
  if (!was_playing) {
    m.Stop(id);
    m.SetPosition(id, static_cast<uint32_t>(FrameOf(id)));
    m.Play(id, looping);
  } else if (m.State(id).playing) {
    m.Play(id, looping);
  }
}

}  // namespace qv

// render.cpp -- the machine's buffer operations mirrored onto mixer voices, mixed one virtual
// millisecond at a time.
#include "render.h"

#include <algorithm>
#include <cstdlib>

namespace qv {

Render::Render(VirtualPlatform& machine, std::string sounds_dir, Sink sink, int stems,
               StemOf stem_of)
    : machine_(machine),
      sounds_dir_(std::move(sounds_dir)),
      sink_(std::move(sink)),
      stem_of_(std::move(stem_of)),
      blocks_(static_cast<size_t>(std::max(1, stems))) {
  for (size_t s = 0; s < blocks_.size(); ++s) {
    mixers_.push_back(std::make_unique<Mixer>(kRenderRate));
  }
  machine_.Watch(*this);
  machine_.SetTurnEndHook([this] { MixTurn(); });
}

Render::~Render() {
  machine_.SetTurnEndHook(nullptr);
  machine_.Unwatch(*this);
}

void Render::MixTurn() {
  // A run that ends at its time limit ends before its last turn, so the render holds exactly
  // the run's time. Whole frames up to the end of this millisecond; the fraction is carried to
  // the next, so an hour renders to the frame.
  ++ms_;
  const uint64_t until = ms_ * kRenderRate / 1000;
  const size_t n = static_cast<size_t>(until - frames_);
  for (size_t s = 0; s < blocks_.size(); ++s) {
    blocks_[s].resize(2 * n);
    mixers_[s]->Mix(blocks_[s].data(), n);
  }
  frames_ = until;
  if (sink_) sink_(blocks_, n);
  // Sounds the machine has played to their end in this turn.
  for (auto& [id, playing] : playing_) {
    if (playing) playing = machine_.FindBuffer(id)->playing;
  }
}

void Render::Saw(const PlatformEvent& e) {
  const BufferId id = e.id;
  if (e.op == "load") {
    const std::string file(e.subject);
    auto& pcm = decoded_[file];
    if (pcm == nullptr) pcm = std::make_shared<const Pcm>(ReadWave(sounds_dir_ + "/" + file));
    const int stem = stem_of_ ? stem_of_(file) : 0;
    stem_[id] = std::clamp(stem, 0, static_cast<int>(mixers_.size()) - 1);
    playing_[id] = false;
    MixerOf(id).Add(id, pcm);
  } else if (e.op == "play") {
    Play(id, e.value == "loop");
  } else if (e.op == "stop") {
    playing_[id] = false;
    MixerOf(id).Stop(id);
  } else if (e.op == "position") {
    MixerOf(id).SetPosition(id, static_cast<uint32_t>(machine_.FindBuffer(id)->position()));
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
    m.SetPosition(id, static_cast<uint32_t>(machine_.FindBuffer(id)->position()));
    m.Play(id, looping);
  } else if (m.State(id).playing) {
    m.Play(id, looping);
  }
}

RenderFile::RenderFile(const std::string& path) : out_(path, kRenderRate, 2) {}

void RenderFile::Add(const std::vector<std::vector<float>>& stems, size_t frames) {
  sum_.assign(2 * frames, 0.0f);
  for (const auto& stem : stems) {
    for (size_t i = 0; i < sum_.size(); ++i) sum_[i] += stem[i];
  }
  out_.Append(sum_.data(), frames);
}

}  // namespace qv

// render.cpp -- buffer operations mirrored onto mixer voices, mixed one virtual millisecond at a
// time.
#include "render.h"

#include <algorithm>
#include <cmath>
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
}

WindowEvents Render::ProcessEvents(std::optional<uint32_t> due) {
  // The machine's turn first: when it ends the run (the time limit) this millisecond is not
  // mixed, so the render holds exactly the run's time. Sounds only change between turns, so
  // mixing after the turn hears the same.
  const WindowEvents events = machine_.ProcessEvents(due);
  // Whole frames up to the end of this millisecond; the fraction is carried to the next, so an
  // hour renders to the frame.
  ++ms_;
  const uint64_t until = ms_ * kRenderRate / 1000;
  const size_t n = static_cast<size_t>(until - frames_);
  for (size_t s = 0; s < blocks_.size(); ++s) {
    blocks_[s].resize(2 * n);
    mixers_[s]->Mix(blocks_[s].data(), n);
  }
  frames_ = until;
  if (sink_) sink_(blocks_, n);
  return events;
}

void Render::Terminate(int status) {
  machine_.Terminate(status);
  std::abort();  // the machine's Terminate throws; it never returns
}

BufferId Render::CreateBuffer(const std::string& file) {
  const BufferId id = machine_.CreateBuffer(file);  // throws, naming the file, if unreadable
  auto& pcm = decoded_[file];
  if (pcm == nullptr) pcm = std::make_shared<const Pcm>(ReadWave(sounds_dir_ + "/" + file));
  const int stem = stem_of_ ? stem_of_(file) : 0;
  stem_[id] = std::clamp(stem, 0, static_cast<int>(mixers_.size()) - 1);
  MixerOf(id).Add(id, pcm);
  return id;
}

void Render::Play(BufferId id, int flags) {
  const VirtualPlatform::Buffer* b = machine_.FindBuffer(id);
  const bool was_playing = b != nullptr && b->playing;
  machine_.Play(id, flags);
  const bool looping = (flags & kPlayLooping) != 0;
  Mixer& m = MixerOf(id);
  // The machine's count of frames decides where a sound is and when it ends; the mixer steps
  // in fixed point and may reach an end a millisecond apart. So a sound the machine has ended
  // starts again from the machine's position even if the mixer still has a frame or two of it,
  // and one the machine still plays goes on only if the mixer still plays it too.
  if (!was_playing) {
    m.Stop(id);
    m.SetPosition(id, static_cast<uint32_t>(b->position()));
    m.Play(id, looping);
  } else if (m.State(id).playing) {
    m.Play(id, looping);
  }
}

void Render::Stop(BufferId id) {
  machine_.Stop(id);
  MixerOf(id).Stop(id);
}

void Render::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  machine_.SetCurrentPosition(id, byte_offset);
  MixerOf(id).SetPosition(id, static_cast<uint32_t>(machine_.FindBuffer(id)->position()));
}

void Render::SetVolume(BufferId id, int hundredths_db) {
  machine_.SetVolume(id, hundredths_db);
  MixerOf(id).SetVolume(id, hundredths_db);
}

void Render::SetPan(BufferId id, int pan) {
  machine_.SetPan(id, pan);
  MixerOf(id).SetPan(id, pan);
}

void Render::SetFrequency(BufferId id, int hertz) {
  machine_.SetFrequency(id, hertz);
  MixerOf(id).SetFrequency(id, hertz);
}

void Render::Release(BufferId id) {
  machine_.Release(id);
  MixerOf(id).Remove(id);
  stem_.erase(id);
}

RenderFile::RenderFile(const std::string& path) : out_(path, kRenderRate, 2) {}

void RenderFile::Add(const std::vector<std::vector<float>>& stems, size_t frames) {
  sum_.assign(2 * frames, 0.0f);
  for (const auto& stem : stems) {
    for (size_t i = 0; i < sum_.size(); ++i) sum_[i] += stem[i];
  }
  // Full scale: what rounds to the largest 16-bit sample, or beyond.
  constexpr float kFull = 32766.5f / 32767.0f;
  for (float v : sum_) full_scale_ += std::fabs(v) >= kFull ? 1 : 0;
  out_.Append(sum_.data(), frames);
}

}  // namespace qv

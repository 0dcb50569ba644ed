// mixer.cpp -- voices and their fading tails, resampled by linear interpolation and summed.
#include "platform/mixer.h"

#include <algorithm>
#include <cmath>

#include "platform/units.h"

namespace qv {

namespace {

constexpr uint64_t kOne = uint64_t{1} << 32;  // one frame in 32.32 fixed point

uint64_t StepOf(int hertz, uint32_t file_rate, uint32_t output_rate) {
  const double ratio = PitchFromFrequency(hertz, static_cast<int>(file_rate)) *
                       static_cast<double>(file_rate) / output_rate;
  return static_cast<uint64_t>(std::llround(ratio * static_cast<double>(kOne)));
}

}  // namespace

Mixer::Mixer(uint32_t output_rate)
    : output_rate_(output_rate),
      ramp_frames_(static_cast<float>(std::max(1.0, output_rate * kMixRampMs / 1000.0))),
      told_ahead_frames_(static_cast<uint64_t>(output_rate * kEndToldAheadMs / 1000.0)) {}

void Mixer::Add(int id, std::shared_ptr<const Pcm> pcm) {
  Voice v;
  v.r.step = StepOf(0, pcm->rate, output_rate_);
  v.r.pcm = std::move(pcm);
  v.r.gain[0] = v.r.gain[1] = v.r.target[0] = v.r.target[1] = 1.0f;
  std::lock_guard lock(mutex_);
  voices_.insert_or_assign(id, std::move(v));
}

void Mixer::Remove(int id) {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return;
  if (it->second.playing) FadeOut(it->second.r);
  voices_.erase(it);
}

void Mixer::Play(int id, bool looping) {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return;
  Voice& v = it->second;
  v.r.looping = looping;
  v.ending = false;
  if (!v.playing) StartAt(v, v.r.pos);
}

void Mixer::Stop(int id) {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return;
  it->second.ending = false;
  if (!it->second.playing) return;
  FadeOut(it->second.r);
  it->second.playing = false;
}

void Mixer::SetPosition(int id, uint32_t frame) {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return;
  Voice& v = it->second;
  v.ending = false;
  const uint64_t pos = uint64_t{std::min<size_t>(frame, v.r.pcm->frames)} << 32;
  if (!v.playing) {
    v.r.pos = pos;
    return;
  }
  // A jump while playing: the old place fades out, the new one comes in.
  FadeOut(v.r);
  StartAt(v, pos);
}

void Mixer::SetVolume(int id, int hundredths_db) {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return;
  it->second.volume = hundredths_db;
  ApplyGains(it->second);
}

void Mixer::SetPan(int id, int pan) {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return;
  it->second.pan = pan;
  ApplyGains(it->second);
}

void Mixer::SetFrequency(int id, int hertz) {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return;
  it->second.r.step = StepOf(hertz, it->second.r.pcm->rate, output_rate_);
}

Mixer::VoiceState Mixer::State(int id, uint64_t heard) const {
  std::lock_guard lock(mutex_);
  auto it = voices_.find(id);
  if (it == voices_.end()) return {};
  const Voice& v = it->second;
  const uint64_t told_at =
      v.ending ? std::max<uint64_t>(v.end_at, told_ahead_frames_ + 1) - told_ahead_frames_ : 0;
  if (v.ending && v.end_at > heard + told_ahead_frames_) {
    return {true, false, static_cast<uint32_t>(v.r.pos >> 32),
            v.end_at - told_ahead_frames_ - heard, told_at};
  }
  return {v.playing, v.playing && v.r.looping, static_cast<uint32_t>(v.r.pos >> 32), 0, told_at};
}

bool Mixer::Sounding() const {
  std::lock_guard lock(mutex_);
  if (!tails_.empty()) return true;
  return std::any_of(voices_.begin(), voices_.end(),
                     [](const auto& v) { return v.second.playing; });
}

uint64_t Mixer::Mixed() const {
  std::lock_guard lock(mutex_);
  return mixed_;
}

void Mixer::SetEndListener(std::function<void()> listener) {
  std::lock_guard lock(mutex_);
  on_end_ = std::move(listener);
}

void Mixer::RampTo(Render& r, float left, float right) const {
  r.target[0] = left;
  r.target[1] = right;
  for (int c = 0; c < 2; ++c) r.delta[c] = (r.target[c] - r.gain[c]) / ramp_frames_;
}

void Mixer::FadeOut(const Render& r) {
  Render tail = r;
  RampTo(tail, 0.0f, 0.0f);
  tails_.push_back(std::move(tail));
}

void Mixer::StartAt(Voice& v, uint64_t pos) {
  v.playing = true;
  v.r.pos = pos;
  const ChannelGains g = GainsFromVolumeAndPan(v.volume, v.pan);
  if (pos == 0) {
    // Our sounds begin at silence: the first sample needs no ramp, and a shot keeps its attack.
    v.r.gain[0] = v.r.target[0] = g.left;
    v.r.gain[1] = v.r.target[1] = g.right;
    v.r.delta[0] = v.r.delta[1] = 0.0f;
  } else {
    v.r.gain[0] = v.r.gain[1] = 0.0f;
    RampTo(v.r, g.left, g.right);
  }
}

void Mixer::ApplyGains(Voice& v) {
  const ChannelGains g = GainsFromVolumeAndPan(v.volume, v.pan);
  if (v.playing) {
    RampTo(v.r, g.left, g.right);
  } else {
    v.r.gain[0] = v.r.target[0] = g.left;
    v.r.gain[1] = v.r.target[1] = g.right;
    v.r.delta[0] = v.r.delta[1] = 0.0f;
  }
}

size_t Mixer::RenderInto(Render& r, float* out, size_t n) {
  const Pcm& p = *r.pcm;
  const size_t frames = p.frames;
  if (frames == 0) return r.looping ? n : 0;
  const uint64_t end = uint64_t{frames} << 32;
  const int16_t* s = p.samples.get();
  const size_t right = p.channels >= 2 ? 1 : 0;  // a mono file feeds both channels
  const size_t stride = p.channels;
  constexpr float kScale = 1.0f / 32768.0f;
  for (size_t i = 0; i < n; ++i) {
    if (r.pos >= end) {
      if (!r.looping) return i;
      r.pos %= end;
    }
    const size_t at = static_cast<size_t>(r.pos >> 32);
    const size_t next = at + 1 < frames ? at + 1 : (r.looping ? 0 : at);
    const float frac = static_cast<float>(r.pos & (kOne - 1)) * (1.0f / 4294967296.0f);
    const float l0 = s[at * stride], l1 = s[next * stride];
    const float r0 = s[at * stride + right], r1 = s[next * stride + right];
    for (int c = 0; c < 2; ++c) {
      if (r.delta[c] == 0.0f) continue;
      r.gain[c] += r.delta[c];
      if (r.delta[c] > 0.0f ? r.gain[c] >= r.target[c] : r.gain[c] <= r.target[c]) {
        r.gain[c] = r.target[c];
        r.delta[c] = 0.0f;
      }
    }
    out[2 * i] += (l0 + (l1 - l0) * frac) * kScale * r.gain[0];
    out[2 * i + 1] += (r0 + (r1 - r0) * frac) * kScale * r.gain[1];
    r.pos += r.step;
  }
  return n;
}

void Mixer::Mix(float* out, size_t frames) {
  std::fill(out, out + 2 * frames, 0.0f);
  bool ended = false;
  std::function<void()> on_end;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, v] : voices_) {
      if (!v.playing) continue;
      const size_t made = RenderInto(v.r, out, frames);
      if (made == frames) continue;
      // Played once to its end: the next Play starts from the beginning.
      v.playing = false;
      v.r.pos = 0;
      v.ending = true;
      v.end_at = mixed_ + made;
      ended = true;
    }
    for (Render& t : tails_) {
      if (RenderInto(t, out, frames) < frames) t.pcm.reset();
    }
    mixed_ += frames;
    // A tail is done once it has faded to silence or reached its end.
    std::erase_if(tails_, [](const Render& t) {
      return t.pcm == nullptr ||
             (t.gain[0] == 0.0f && t.gain[1] == 0.0f && t.delta[0] == 0.0f && t.delta[1] == 0.0f);
    });
    if (ended) on_end = on_end_;
  }
  if (on_end) on_end();
}

}  // namespace qv

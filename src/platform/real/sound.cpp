// sound.cpp -- the game's sound buffers: each a voice of the game's own mixer, which the audio
// output pulls from on its own thread.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/mixer.h"
#include "platform/real/machine.h"
#include "platform/real/output.h"
#include "platform/wave_file.h"

namespace qv {

namespace {

// How long the game waits for a lost sound device to come back before it gives up.
constexpr int kReopenTries = 25;
constexpr auto kReopenPause = std::chrono::milliseconds(200);

}  // namespace

SdlSound::SdlSound(std::string sounds_dir) : sounds_dir_(std::move(sounds_dir)) {}

SdlSound::~SdlSound() { Close(); }

void SdlSound::MakeMixer() {
  if (mixer_ != nullptr) return;
  mixer_ = std::make_unique<Mixer>(kOutputRate);
  mixer_->SetEndListener(on_end_);
}

bool SdlSound::OpenSoundDevice() {
  FinishOpening();
  if (output_ != nullptr) return true;
  MakeMixer();
  output_ = OpenOutput(*mixer_, quick_);
  return output_ != nullptr;
}

void SdlSound::StartOpening() {
  if (output_ != nullptr || opening_.joinable()) return;
  MakeMixer();
  opening_ = std::thread([this] { output_ = OpenOutput(*mixer_, quick_, /*sdl_too=*/false); });
}

void SdlSound::FinishOpening() {
  if (opening_.joinable()) opening_.join();
}

void SdlSound::SetEndListener(std::function<void()> listener) {
  on_end_ = std::move(listener);
  if (mixer_ != nullptr) mixer_->SetEndListener(on_end_);
}

void SdlSound::KeepDevice() {
  FinishOpening();
  if (output_ == nullptr || !output_->Lost()) return;
  // The voices wait in the mixer, where they were, while no output pulls from it.
  output_.reset();
  for (int i = 0; i < kReopenTries && output_ == nullptr; ++i) {
    if (i > 0) std::this_thread::sleep_for(kReopenPause);
    output_ = OpenOutput(*mixer_, quick_);
  }
  if (output_ == nullptr) {
    throw SoundDeviceLost("The sound device was lost and did not come back.");
  }
}

void SdlSound::Close() {
  // The output first: its thread mixes until it is closed.
  FinishOpening();
  output_.reset();
  buffers_.clear();
  mixer_.reset();
}

SdlSound::Buffer& SdlSound::Find(BufferId id, const char* operation) {
  KeepDevice();
  auto it = buffers_.find(id);
  if (it == buffers_.end() || mixer_ == nullptr) {
    throw PlatformError(std::string("Sound buffer ") + operation + " failed: no buffer " +
                        std::to_string(id));
  }
  return it->second;
}

BufferId SdlSound::CreateBuffer(const std::string& file) {
  KeepDevice();
  const std::string fail = "Cannot load sound file " + file + ": ";
  if (output_ == nullptr) throw PlatformError(fail + "no sound device is open");
  std::shared_ptr<Pcm> pcm;
  try {
    pcm = std::make_shared<Pcm>(ReadWave(sounds_dir_ + "/" + file));
  } catch (const WaveError& e) {
    throw PlatformError(fail + e.what());
  }
  const BufferId id = next_id_++;
  buffers_.emplace(id, Buffer{file, 2u * pcm->channels, pcm->frames, static_cast<int>(pcm->rate)});
  mixer_->Add(id, std::move(pcm));
  Tell("load", id, file, "");
  return id;
}

void SdlSound::TellBuffer(std::string_view op, BufferId id, std::string_view value) {
  Tell(op, id, buffers_.at(id).file, value);
}

void SdlSound::Play(BufferId id, PlayMode mode) {
  Find(id, "play");
  mixer_->Play(id, mode == kPlayLooping);
  if (output_ != nullptr) output_->Wake();
  TellBuffer("play", id, mode == kPlayLooping ? "loop" : "once");
}

void SdlSound::Stop(BufferId id) {
  Find(id, "stop");
  mixer_->Stop(id);
  TellBuffer("stop", id, "");
}

void SdlSound::SetCurrentPosition(BufferId id, uint32_t byte_offset) {
  const Buffer& b = Find(id, "position");
  mixer_->SetPosition(id, byte_offset / b.frame_bytes);
  TellBuffer("position", id, std::to_string(byte_offset));
}

void SdlSound::SetVolume(BufferId id, int hundredths_db) {
  Find(id, "volume");
  mixer_->SetVolume(id, hundredths_db);
  TellBuffer("volume", id, std::to_string(hundredths_db));
}

void SdlSound::SetPan(BufferId id, int pan) {
  Find(id, "pan");
  mixer_->SetPan(id, pan);
  TellBuffer("pan", id, std::to_string(pan));
}

void SdlSound::SetFrequency(BufferId id, int hertz) {
  Buffer& b = Find(id, "frequency");
  mixer_->SetFrequency(id, hertz);
  if (hertz > 0) b.rate = hertz;
  TellBuffer("frequency", id, std::to_string(hertz));
}

uint64_t SdlSound::Heard() { return output_ != nullptr ? output_->Heard() : mixer_->Mixed(); }

int SdlSound::GetStatus(BufferId id) {
  Find(id, "status");
  const Mixer::VoiceState state = mixer_->State(id, Heard());
  if (!state.playing) return 0;  // a stopped looping buffer reads 0, as it should
  return kStatusPlaying | (state.looping ? kStatusLooping : 0);
}

void SdlSound::SetQuickResponse(bool quick) {
  FinishOpening();
  quick_ = quick;
  if (output_ != nullptr) output_->SetQuick(quick);
}

void SdlSound::Release(BufferId id) {
  const std::string file = Find(id, "release").file;
  mixer_->Remove(id);
  buffers_.erase(id);
  Tell("release", id, file, "");
}

std::optional<uint32_t> SdlSound::MsToNextEnd() {
  if (mixer_ == nullptr) return std::nullopt;
  std::optional<uint32_t> soonest;
  const uint64_t heard = Heard();
  const uint64_t mixed = mixer_->Mixed();
  const uint64_t held = mixed > heard ? mixed - heard : 0;
  uint64_t newest_told = 0;
  for (const auto& [id, b] : buffers_) {
    const Mixer::VoiceState state = mixer_->State(id, heard);
    if (!state.playing && state.told_at > end_woken_) {
      newest_told = std::max(newest_told, state.told_at);
    }
    if (!state.playing || state.looping || b.rate <= 0) continue;
    uint64_t ms = state.frames_to_told_end * 1000 / kOutputRate + 1;
    if (state.frames_to_told_end == 0) {
      // Still being mixed: its frames left, behind what the output holds, and the mixer's
      // period in which it notices the end.
      const size_t left = b.frames > state.frame ? b.frames - state.frame : 0;
      ms = left * 1000 / static_cast<size_t>(b.rate) +
           (held + kOutputPeriodFrames) * 1000 / kOutputRate + 1;
    }
    const auto capped = static_cast<uint32_t>(std::min<uint64_t>(ms, 1000000));
    if (!soonest || capped < *soonest) soonest = capped;
  }
  if (newest_told != 0) {
    end_woken_ = newest_told;
    return 0;
  }
  return soonest;
}

uint32_t SdlSound::PlayPosition(BufferId id) {
  const Buffer& b = Find(id, "position");
  return mixer_->State(id).frame * b.frame_bytes;
}

}  // namespace qv

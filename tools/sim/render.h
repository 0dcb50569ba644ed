// render.h -- the simulator's render: every buffer operation the program makes also drives a
// voice of the game's own mixer (the real output's units and pan law), and each virtual
// millisecond mixes its share of 44.1 kHz stereo frames. A whole session can then be heard and
// measured without a sound server, as fast as the machine mixes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/mixer.h"
#include "platform/platform.h"
#include "platform/virtual/virtual_platform.h"

namespace qv {

constexpr uint32_t kRenderRate = 44100;

class Render : public System, public Sound {
 public:
  // Which stem a file plays through (0 .. stems - 1). Separate stems let a measure set speech
  // against the rest; what is heard is their sum.
  using StemOf = std::function<int(const std::string& file)>;
  // Receives each millisecond's frames: one block of interleaved stereo floats per stem.
  using Sink = std::function<void(const std::vector<std::vector<float>>& stems, size_t frames)>;

  Render(VirtualPlatform& machine, std::string sounds_dir, Sink sink, int stems = 1,
         StemOf stem_of = {});

  // The machine with this render in front of its system and sound parts.
  Platform Parts() { return Platform{*this, machine_, *this, machine_}; }

  uint32_t TickCount() override { return machine_.TickCount(); }
  uint32_t ClockSeed() override { return machine_.ClockSeed(); }
  void ShowWindow() override { machine_.ShowWindow(); }
  // Lets the machine take its turn, then mixes the millisecond that has passed.
  WindowEvents ProcessEvents(std::optional<uint32_t> due) override;
  void MessageBox(const std::string& text) override { machine_.MessageBox(text); }
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override { machine_.SetTimerEnabled(enabled); }

  bool OpenSoundDevice() override { return machine_.OpenSoundDevice(); }
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, int flags) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override { return machine_.GetStatus(id); }
  void Release(BufferId id) override;

  // Frames mixed so far.
  uint64_t Frames() const { return frames_; }

 private:
  Mixer& MixerOf(BufferId id) { return *mixers_[static_cast<size_t>(stem_[id])]; }

  VirtualPlatform& machine_;
  std::string sounds_dir_;
  Sink sink_;
  StemOf stem_of_;
  std::vector<std::unique_ptr<Mixer>> mixers_;
  std::map<BufferId, int> stem_;                               // buffer -> its stem
  std::map<std::string, std::shared_ptr<const Pcm>> decoded_;  // each file read once
  std::vector<std::vector<float>> blocks_;                     // one millisecond per stem
  uint64_t ms_ = 0;
  uint64_t frames_ = 0;
};

// Writes the sum of the stems to a 16-bit stereo wave file as it comes, and counts the
// samples that reach full scale.
class RenderFile {
 public:
  explicit RenderFile(const std::string& path);
  void Add(const std::vector<std::vector<float>>& stems, size_t frames);
  // Completes the file. Throws WaveError.
  void Close() { out_.Close(); }
  uint64_t FullScale() const { return full_scale_; }

 private:
  WaveWriter out_;
  std::vector<float> sum_;
  uint64_t full_scale_ = 0;
};

}  // namespace qv

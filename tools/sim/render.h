// render.h -- the simulator's render: it watches the virtual machine's buffers and plays each on
// a voice of the game's own mixer (the real output's units and pan law), and at the end of each
// virtual millisecond mixes its share of 44.1 kHz stereo frames. A whole session can then be
// heard and measured without a sound server, as fast as the machine mixes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/mixer.h"
#include "platform/observer.h"
#include "platform/virtual/virtual_platform.h"

namespace qv {

constexpr uint32_t kRenderRate = 44100;

class Render : public PlatformObserver {
 public:
  // Which stem a file plays through (0 .. stems - 1). Separate stems let a measure set speech
  // against the rest; what is heard is their sum.
  using StemOf = std::function<int(const std::string& file)>;
  // Receives each millisecond's frames: one block of interleaved stereo floats per stem.
  using Sink = std::function<void(const std::vector<std::vector<float>>& stems, size_t frames)>;

  // Watches the machine from now on, and takes its turn-end hook.
  Render(VirtualPlatform& machine, std::string sounds_dir, Sink sink, int stems = 1,
         StemOf stem_of = {});
  ~Render() override;
  Render(const Render&) = delete;
  Render& operator=(const Render&) = delete;

  // A buffer operation of the machine, mirrored on its voice.
  void Saw(const PlatformEvent& event) override;

  // Frames mixed so far.
  uint64_t Frames() const { return frames_; }

 private:
  // Mixes the millisecond the machine's turn has just ended.
  void MixTurn();
  void Play(BufferId id, bool looping);
  Mixer& MixerOf(BufferId id) { return *mixers_[static_cast<size_t>(stem_[id])]; }

  VirtualPlatform& machine_;
  std::string sounds_dir_;
  Sink sink_;
  StemOf stem_of_;
  std::vector<std::unique_ptr<Mixer>> mixers_;
  std::map<BufferId, int> stem_;                               // buffer -> its stem
  std::map<BufferId, bool> playing_;                           // as the machine plays it
  std::map<std::string, std::shared_ptr<const Pcm>> decoded_;  // each file read once
  std::vector<std::vector<float>> blocks_;                     // one millisecond per stem
  uint64_t ms_ = 0;
  uint64_t frames_ = 0;
};

// Writes the sum of the stems to a 16-bit stereo wave file as it comes.
class RenderFile {
 public:
  explicit RenderFile(const std::string& path);
  void Add(const std::vector<std::vector<float>>& stems, size_t frames);
  // Completes the file. Throws WaveError.
  void Close() { out_.Close(); }

 private:
  WaveWriter out_;
  std::vector<float> sum_;
};

}  // namespace qv

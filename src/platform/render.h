// render.h -- a machine's buffers played on voices of the game's own mixer (the real output's
// units and pan law) and mixed into 44.1 kHz stereo frames as the machine's time goes on: the
// virtual machine's, in the simulator, or a replay's. A whole session can then be heard and
// measured without a sound server, as fast as the machine mixes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/mixer.h"
#include "platform/platform.h"

namespace qv {

constexpr uint32_t kRenderRate = 44100;

class Render : public PlatformObserver {
 public:
  // Which stem a file plays through (0 .. stems - 1). Separate stems let a measure set speech
  // against the rest; what is heard is their sum.
  using StemOf = std::function<int(const std::string& file)>;
  // Receives each stretch of frames: one block of interleaved stereo floats per stem.
  using Sink = std::function<void(const std::vector<std::vector<float>>& stems, size_t frames)>;
  // The machine's own account of a buffer: where it plays from (frames of its file) and
  // whether it still plays. Its count decides where a sound is and when it ends, so the render
  // never drifts from what the machine told the game.
  struct Account {
    double frame = 0;
    bool playing = false;
  };
  using AccountOf = std::function<std::optional<Account>(BufferId)>;

  // Watches the machine's parts from now on. The machine's owner calls AdvanceTo as its time
  // goes on. rate: the frames a second it mixes (what an encoder takes best, say).
  Render(Platform machine, std::string sounds_dir, AccountOf account, Sink sink, int stems = 1,
         StemOf stem_of = {}, uint32_t rate = kRenderRate);
  ~Render() override;
  Render(const Render&) = delete;
  Render& operator=(const Render&) = delete;

  // A buffer already there when the render begins (what plays under a replay's first sounds).
  void AddPlaying(BufferId id, const std::string& file, int volume, int pan, int frequency,
                  bool playing, bool looping, uint32_t frame);
  // Mixes up to the machine's time (its milliseconds since the render began) before each
  // operation it sees, rather than at each turn's end: the fewest mixes for a machine whose
  // turns are many and short (a replay recorded in the simulator). Its owner mixes the tail.
  void MixBeforeEachOperation(std::function<uint64_t()> ms) { ms_ = std::move(ms); }
  // A buffer operation of the machine, mirrored on its voice.
  void Saw(const PlatformEvent& event) override;
  // Mixes up to ms milliseconds after the render began: whole frames, the fraction carried to
  // the next, so an hour renders to the frame.
  void AdvanceTo(uint64_t ms);

  // Frames mixed so far.
  uint64_t Frames() const { return frames_; }

 private:
  void Load(BufferId id, const std::string& file);
  void Play(BufferId id, bool looping);
  Mixer& MixerOf(BufferId id) { return *mixers_[static_cast<size_t>(stem_[id])]; }
  double FrameOf(BufferId id);

  Platform machine_;
  std::string sounds_dir_;
  AccountOf account_;
  std::function<uint64_t()> ms_;
  Sink sink_;
  StemOf stem_of_;
  std::vector<std::unique_ptr<Mixer>> mixers_;
  std::map<BufferId, int> stem_;                               // buffer -> its stem
  std::map<BufferId, bool> playing_;                           // as the machine plays it
  std::map<std::string, std::shared_ptr<const Pcm>> decoded_;  // each file read once
  std::vector<std::vector<float>> blocks_;                     // one stretch per stem
  uint64_t frames_ = 0;
  uint32_t rate_;
};

}  // namespace qv

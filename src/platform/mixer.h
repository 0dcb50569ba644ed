// mixer.h -- the game's own mixer: each sound buffer is a voice over decoded 16-bit sound, mixed
// into a stereo output in the game's units (volume in hundredths of a decibel; the pan law that
// keeps the near channel at the volume and lowers the far one; frequency in hertz). Every stop,
// release, jump and change of level takes a few milliseconds to reach its new level, so none is
// heard as a click. The real output calls Mix from its audio callback and the game's thread
// calls the rest; the simulator's render calls both from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/wave_file.h"

namespace qv {

// How long a change of level takes: a step in one sample is heard as a click; 5 ms is short
// enough to be heard as instant.
constexpr double kMixRampMs = 5.0;

class Mixer {
 public:
  explicit Mixer(uint32_t output_rate);

  // --- The game's side. Voices are named by the caller's ids (the sound buffers' numbers).
  // A new voice: stopped at frame 0, volume 0 (full), pan 0 (centre), the file's own rate.
  void Add(int id, std::shared_ptr<const Pcm> pcm);
  // Gone at once; a playing voice fades out.
  void Remove(int id);
  // Starts from the current position, or goes on if already playing, taking the new flag.
  void Play(int id, bool looping);
  // Pauses: the sound fades out from where it is, and the position stays there.
  void Stop(int id);
  // Moves the play position (frames of the file; past the end means at its end).
  void SetPosition(int id, uint32_t frame);
  void SetVolume(int id, int hundredths_db);
  void SetPan(int id, int pan);
  void SetFrequency(int id, int hertz);

  struct VoiceState {
    bool playing = false;
    bool looping = false;
    uint32_t frame = 0;  // where it plays from, or will go on from
  };
  // Unknown ids read as a stopped voice.
  VoiceState State(int id) const;

  // Called on the output's thread after a Mix in which a sound played once reached its end, so
  // that whoever waits for that end can look at once.
  void SetEndListener(std::function<void()> listener);

  // --- The output's side. Writes `frames` stereo frames (left, right interleaved) into out.
  void Mix(float* out, size_t frames);

 private:
  // What makes sound: a voice, or the fading tail of one that stopped, jumped or went away.
  struct Render {
    std::shared_ptr<const Pcm> pcm;
    uint64_t pos = 0;   // frames of the file, 32.32 fixed point
    uint64_t step = 0;  // frames of the file per output frame, 32.32
    bool looping = false;
    float gain[2] = {0, 0};    // left, right: now
    float target[2] = {0, 0};  // where the ramp goes
    float delta[2] = {0, 0};   // per output frame
  };
  struct Voice {
    Render r;
    bool playing = false;
    int volume = 0;
    int pan = 0;
  };

  // Adds n frames of r into out; false once a sound played once has reached its end.
  static bool RenderInto(Render& r, float* out, size_t n);
  void RampTo(Render& r, float left, float right) const;
  void FadeOut(const Render& r);
  void StartAt(Voice& v, uint64_t pos);
  void ApplyGains(Voice& v);

  const uint32_t output_rate_;
  const float ramp_frames_;
  mutable std::mutex mutex_;
  std::map<int, Voice> voices_;
  std::vector<Render> tails_;
  std::function<void()> on_end_;
};

}  // namespace qv

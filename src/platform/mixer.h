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
// A sound played once reads as ended this long before its end is heard, and no sooner: the mix
// runs ahead of what is heard by all the output holds (up to tens of milliseconds while nothing
// needs speed), and a replay refuses an end told more than 11 ms early (a period and the
// millisecond's rounding), so this leaves room for the output's estimate of what is heard.
constexpr double kEndToldAheadMs = 7.0;

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
    // Output frames until a sound played once that has been mixed to its end reads as ended
    // (0 for any other).
    uint64_t frames_to_told_end = 0;
    // For a sound played once to its end: the output frame from which it reads as ended (0
    // for any other).
    uint64_t told_at = 0;
  };
  // Unknown ids read as a stopped voice. `heard`: the output frame being heard now (see
  // Mixed): a sound played once still reads as playing until its end is within
  // kEndToldAheadMs of being heard.
  VoiceState State(int id, uint64_t heard) const;
  // As heard the moment it is mixed (the render, the browser's worklet).
  VoiceState State(int id) const { return State(id, Mixed()); }
  // Whether any voice or fading tail makes sound.
  bool Sounding() const;
  // Output frames mixed so far, over every output that has pulled from this mixer.
  uint64_t Mixed() const;

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
    bool ending = false;  // played once to its end, which may not be heard yet
    uint64_t end_at = 0;  // the output frame at that end
    int volume = 0;
    int pan = 0;
  };

  // Adds n frames of r into out; the frames it made before a sound played once reached its
  // end (n when it did not).
  static size_t RenderInto(Render& r, float* out, size_t n);
  void RampTo(Render& r, float left, float right) const;
  void FadeOut(const Render& r);
  void StartAt(Voice& v, uint64_t pos);
  void ApplyGains(Voice& v);

  const uint32_t output_rate_;
  const float ramp_frames_;
  const uint64_t told_ahead_frames_;
  mutable std::mutex mutex_;
  std::map<int, Voice> voices_;
  std::vector<Render> tails_;
  uint64_t mixed_ = 0;
  std::function<void()> on_end_;
};

}  // namespace qv

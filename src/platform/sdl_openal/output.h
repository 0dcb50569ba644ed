// output.h -- where the mixer's sound goes: the machine's audio output through SDL (PipeWire,
// PulseAudio or ALSA), whose own callback pulls each period from the mixer; or, for tests, a
// 16-bit stereo wave file written at the pace of real time.
#pragma once

#include <cstdint>
#include <memory>

namespace qv {

class Mixer;

// The rate the game mixes at: the files' own 22050 Hz doubled, and what sound servers run at or
// resample from cheaply.
constexpr uint32_t kOutputRate = 44100;
// Frames the output asks for at a time: 10 ms, which keeps a key and its sound within about
// 10 ms of each other through PulseAudio (bench/audio_gaps measures it).
constexpr uint16_t kOutputPeriodFrames = 441;
// Names a file to write the mix to instead of playing it (the tests' ears).
constexpr const char* kCaptureVariable = "QUORVANE_SOUND_CAPTURE";

class Output {
 public:
  virtual ~Output() = default;
  // The device went away (the sound server stopped or restarted): a new one must be opened.
  virtual bool Lost() = 0;
};

// Opens the output and starts pulling from the mixer, which must outlive it: the wave writer
// when QUORVANE_SOUND_CAPTURE names a file, else the default audio device. Nothing when none
// can be opened. Called by the sound when it opens its device, and again after a loss.
std::unique_ptr<Output> OpenOutput(Mixer& mixer);

}  // namespace qv

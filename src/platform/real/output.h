// output.h -- where the mixer's sound goes: the machine's audio output, whose own request for
// more pulls each period from the mixer (the PulseAudio server, which PipeWire desktops run
// too; else SDL's audio, for ALSA); or, for tests, a 16-bit stereo wave file written at the pace
// of real time.
#pragma once

#include <cstdint>
#include <memory>

namespace qv {

class Mixer;

// The rate the game mixes at: the files' own 22050 Hz doubled, and what sound servers run at or
// resample from cheaply.
constexpr uint32_t kOutputRate = 44100;
// Frames of sound the output holds while a key must be heard at once (a game in play): 10 ms,
// which keeps a key and its sound within about 10 ms of each other (bench/audio_gaps measures
// it).
constexpr uint16_t kOutputPeriodFrames = 441;
// Frames it holds while nothing needs speed (the menus, their speech, the tour, a submission's
// wait): 35 ms, asked for in halves, so a key is heard about 18-35 ms after it is pressed and
// the output, and the sound server with it, wakes under a third as often (bench/keys.sh and
// bench/idle_cpu.sh measure both: 40 ms missed the 30 ms a key may take in the menus, 30 ms
// left the program at more than half its CPU at 10 ms).
constexpr uint16_t kCalmOutputFrames = 1544;
// Names a file to write the mix to instead of playing it (the tests' ears).
constexpr const char* kCaptureVariable = "QUORVANE_SOUND_CAPTURE";

class Output {
 public:
  virtual ~Output() = default;
  // The device went away (the sound server stopped or restarted): a new one must be opened.
  virtual bool Lost() = 0;
  // The output frame being heard now, counted as the mixer counts its frames (Mixer::Mixed).
  // Called on the game's thread.
  virtual uint64_t Heard() = 0;
  // Whether a key must be heard at once (kOutputPeriodFrames held) or may wait a little
  // (kCalmOutputFrames). An output that holds one size ignores it. Called on the game's thread.
  virtual void SetQuick(bool /*quick*/) {}
  // A voice has started. An output that sends nothing until there is something to hear sends
  // it now rather than at the server's next request. Called on the game's thread.
  virtual void Wake() {}
};

// Opens the output and starts pulling from the mixer, which must outlive it: the wave writer
// when QUORVANE_SOUND_CAPTURE names a file, else a stream on the PulseAudio server, else SDL's
// default audio device (SDL's alone when SDL_AUDIODRIVER names one). Nothing when none can be
// opened. Called by the sound when it opens its device, and again after a loss. Without sdl_too
// SDL's audio is not tried (nothing where it alone would do): SDL must not start its audio on
// one thread while another starts its video.
// quick: the size it holds from the start (see SetQuick).
std::unique_ptr<Output> OpenOutput(Mixer& mixer, bool quick, bool sdl_too = true);

}  // namespace qv

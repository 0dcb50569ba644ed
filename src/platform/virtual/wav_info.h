// wav_info.h -- reads a RIFF WAVE file's format and length, for the virtual sound buffers.
#pragma once

#include <cstdint>
#include <string>

namespace qv {

struct WavInfo {
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
  uint16_t bits_per_sample = 0;
  uint32_t frames = 0;
};

// Reads the header of a PCM wave file. Throws PlatformError naming `name` when the file is
// missing, unreadable or not 8/16-bit PCM mono or stereo.
WavInfo ReadWavInfo(const std::string& path, const std::string& name);

}  // namespace qv

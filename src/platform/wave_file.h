// wave_file.h -- RIFF WAVE files in and out: the game's sounds, captures of its output, the
// sound generator's work files. One reader of the chunks for every format we meet: PCM of 8, 16,
// 24 or 32 bits and 32-bit float, plain or WAVE_FORMAT_EXTENSIBLE (as sox writes it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qv {

// A file that cannot be read as a wave file; what() says why, without the file's name.
struct WaveError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What the header says about the sound data.
struct WaveFormat {
  uint32_t rate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;      // bits per sample
  bool is_float = false;  // 32-bit IEEE float rather than integer PCM
  uint32_t frames = 0;    // whole frames the data chunk holds (cut to what the file holds)
};

// Decoded 16-bit sound, channels interleaved; what the mixer plays.
struct Pcm {
  uint32_t rate = 0;
  uint16_t channels = 0;
  size_t frames = 0;
  std::unique_ptr<int16_t[]> samples;  // frames * channels
};

// Decoded sound as floats in -1..1, channels interleaved; for analysis and the sound generator.
struct PcmFloat {
  uint32_t rate = 0;
  uint16_t channels = 0;
  std::vector<float> samples;
  size_t frames() const { return channels == 0 ? 0 : samples.size() / channels; }
};

// The header alone. Throws WaveError.
WaveFormat ReadWaveFormat(const std::string& path);
// The whole file as 16-bit samples: 16-bit files are read straight into place, other formats
// converted (floats clipped to full scale). Throws WaveError.
Pcm ReadWave(const std::string& path);
// The whole file as floats. Throws WaveError.
PcmFloat ReadWaveFloat(const std::string& path);

// Writes a plain 16-bit PCM file ("fmt " and "data" only). Throws WaveError.
void WriteWave(const std::string& path, uint32_t rate, uint16_t channels, const int16_t* samples,
               size_t frames);
// Floats rounded to 16 bits (clipped at full scale, no dither).
void WriteWave(const std::string& path, const PcmFloat& pcm);

// A plain 16-bit PCM file written as it comes, for sound too long to hold in memory (the
// simulator's render of a whole session). The header's sizes are filled in by Close.
class WaveWriter {
 public:
  // Throws WaveError when the file cannot be created.
  WaveWriter(const std::string& path, uint32_t rate, uint16_t channels);
  ~WaveWriter();  // closes, if Close was not called; an error is then lost
  WaveWriter(const WaveWriter&) = delete;
  WaveWriter& operator=(const WaveWriter&) = delete;

  void Append(const int16_t* samples, size_t frames);
  // Floats rounded to 16 bits as WriteWave does.
  void Append(const float* samples, size_t frames);
  // Completes the header for what has been appended so far and flushes, so that the file reads
  // whole while the writing goes on (a capture read as it grows, a program killed mid-way).
  // An error is kept for Close.
  void Flush();
  // Completes the header and closes the file. Throws WaveError.
  void Close();

 private:
  std::string path_;
  std::FILE* f_;
  uint32_t rate_;
  uint16_t channels_;
  uint64_t frames_ = 0;
  bool ok_ = true;
};

}  // namespace qv

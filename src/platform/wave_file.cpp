// wave_file.cpp -- the RIFF chunk walk, the sample conversions and the writer.
#include "platform/wave_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace qv {

namespace {

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct File {
  std::FILE* f;
  explicit File(std::FILE* file) : f(file) {}
  ~File() {
    if (f != nullptr) std::fclose(f);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
};

// Where the data chunk lies in an open file, and its format.
struct Layout {
  WaveFormat format;
  long data_at = 0;
  size_t data_bytes = 0;
};

Layout ReadLayout(std::FILE* f) {
  unsigned char head[12];
  if (std::fread(head, 1, 12, f) != 12 || std::memcmp(head, "RIFF", 4) != 0 ||
      std::memcmp(head + 8, "WAVE", 4) != 0) {
    throw WaveError("not a RIFF WAVE file");
  }
  if (std::fseek(f, 0, SEEK_END) != 0) throw WaveError("cannot seek");
  const long file_size = std::ftell(f);
  long pos = 12;
  Layout out;
  bool have_format = false;
  uint16_t tag = 0;
  for (;;) {
    unsigned char chunk[8];
    if (std::fseek(f, pos, SEEK_SET) != 0 || std::fread(chunk, 1, 8, f) != 8) {
      throw WaveError("no sound data");
    }
    const uint32_t size = Le32(chunk + 4);
    const long body = pos + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char fmt[40] = {};
      const size_t want = std::min<uint32_t>(size, sizeof fmt);
      if (size < 16 || std::fread(fmt, 1, want, f) != want) throw WaveError("bad format chunk");
      tag = Le16(fmt);
      out.format.channels = Le16(fmt + 2);
      out.format.rate = Le32(fmt + 4);
      out.format.bits = Le16(fmt + 14);
      // WAVE_FORMAT_EXTENSIBLE names the real format in the first two bytes of its GUID.
      if (tag == 0xFFFE && size >= 26) tag = Le16(fmt + 24);
      have_format = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!have_format) throw WaveError("sound data before its format");
      WaveFormat& w = out.format;
      w.is_float = tag == 3;
      const bool pcm = tag == 1 && (w.bits == 8 || w.bits == 16 || w.bits == 24 || w.bits == 32);
      if ((!pcm && !(w.is_float && w.bits == 32)) || w.channels == 0 || w.rate == 0) {
        throw WaveError("unsupported sample format");
      }
      // A data chunk that claims more than the file holds (a capture cut short) is cut to it.
      const size_t available = static_cast<size_t>(std::max(0L, file_size - body));
      out.data_at = body;
      out.data_bytes = std::min<size_t>(size, available);
      const size_t frame_bytes = size_t{w.channels} * (w.bits / 8u);
      w.frames = static_cast<uint32_t>(out.data_bytes / frame_bytes);
      out.data_bytes = w.frames * frame_bytes;
      return out;
    }
    pos = body + static_cast<long>(size) + static_cast<long>(size & 1u);  // padded to even
    if (pos >= file_size) throw WaveError("no sound data");
  }
}

std::FILE* OpenForReading(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw WaveError("cannot open " + path + ": " + std::strerror(errno));
  return f;
}

// One sample of any supported format, as a float in -1..1.
float SampleAt(const unsigned char* p, const WaveFormat& w) {
  switch (w.bits) {
    case 8:
      return (static_cast<int>(p[0]) - 128) / 128.0f;
    case 16:
      return static_cast<int16_t>(Le16(p)) / 32768.0f;
    case 24: {
      const int32_t v =
          static_cast<int32_t>((p[0] << 8) | (p[1] << 16) | (static_cast<uint32_t>(p[2]) << 24)) >>
          8;
      return static_cast<float>(v) / 8388608.0f;
    }
    default: {
      const uint32_t bits = Le32(p);
      if (w.is_float) {
        // A plain copy: the browser build's C++ library has no std::bit_cast.
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
      }
      return static_cast<float>(static_cast<int32_t>(bits) / 2147483648.0);
    }
  }
}

int16_t ToInt16(float v) {
  const float scaled = std::round(v * 32767.0f);
  return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

// The raw data chunk.
std::vector<unsigned char> ReadData(std::FILE* f, const Layout& l) {
  std::vector<unsigned char> raw(l.data_bytes);
  if (std::fseek(f, l.data_at, SEEK_SET) != 0 ||
      std::fread(raw.data(), 1, raw.size(), f) != raw.size()) {
    throw WaveError("cannot read the sound data");
  }
  return raw;
}

}  // namespace

WaveFormat ReadWaveFormat(const std::string& path) {
  File file(OpenForReading(path));
  return ReadLayout(file.f).format;
}

Pcm ReadWave(const std::string& path) {
  File file(OpenForReading(path));
  const Layout l = ReadLayout(file.f);
  Pcm out;
  out.rate = l.format.rate;
  out.channels = l.format.channels;
  out.frames = l.format.frames;
  const size_t count = out.frames * out.channels;
  // Not zeroed first (a plain new, which the browser build's C++ library also has): every
  // sample is written below. Start-up loads several megabytes.
  out.samples.reset(new int16_t[count]);
  if (l.format.bits == 16 && !l.format.is_float) {
    if (std::fseek(file.f, l.data_at, SEEK_SET) != 0 ||
        std::fread(out.samples.get(), 2, count, file.f) != count) {
      throw WaveError("cannot read the sound data");
    }
    if constexpr (std::endian::native == std::endian::big) {
      for (size_t i = 0; i < count; ++i) {
        out.samples[i] =
            static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(out.samples[i])));
      }
    }
    return out;
  }
  const std::vector<unsigned char> raw = ReadData(file.f, l);
  const size_t step = l.format.bits / 8u;
  for (size_t i = 0; i < count; ++i) out.samples[i] = ToInt16(SampleAt(&raw[i * step], l.format));
  return out;
}

PcmFloat ReadWaveFloat(const std::string& path) {
  File file(OpenForReading(path));
  const Layout l = ReadLayout(file.f);
  const std::vector<unsigned char> raw = ReadData(file.f, l);
  PcmFloat out;
  out.rate = l.format.rate;
  out.channels = l.format.channels;
  const size_t step = l.format.bits / 8u;
  out.samples.resize(size_t{l.format.frames} * out.channels);
  for (size_t i = 0; i < out.samples.size(); ++i)
    out.samples[i] = SampleAt(&raw[i * step], l.format);
  return out;
}

void WriteWave(const std::string& path, uint32_t rate, uint16_t channels, const int16_t* samples,
               size_t frames) {
  WaveWriter out(path, rate, channels);
  out.Append(samples, frames);
  out.Close();
}

void WriteWave(const std::string& path, const PcmFloat& pcm) {
  std::vector<int16_t> samples(pcm.samples.size());
  std::transform(pcm.samples.begin(), pcm.samples.end(), samples.begin(), ToInt16);
  WriteWave(path, pcm.rate, pcm.channels, samples.data(), pcm.frames());
}

namespace {

// The 44-byte header of a plain 16-bit PCM file holding `frames` frames.
void WriteHeader(std::FILE* f, uint32_t rate, uint16_t channels, uint64_t frames) {
  const uint32_t data_bytes = static_cast<uint32_t>(frames * channels * 2);
  unsigned char h[44];
  auto put32 = [&](int at, uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  auto put16 = [&](int at, uint16_t v) {
    h[at] = static_cast<unsigned char>(v);
    h[at + 1] = static_cast<unsigned char>(v >> 8);
  };
  std::memcpy(h, "RIFF", 4);
  put32(4, 36 + data_bytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);  // PCM
  put16(22, channels);
  put32(24, rate);
  put32(28, rate * channels * 2u);
  put16(32, static_cast<uint16_t>(channels * 2));
  put16(34, 16);
  std::memcpy(h + 36, "data", 4);
  put32(40, data_bytes);
  if (std::fwrite(h, 1, sizeof h, f) != sizeof h) throw WaveError("cannot write the header");
}

}  // namespace

WaveWriter::WaveWriter(const std::string& path, uint32_t rate, uint16_t channels)
    : path_(path), f_(std::fopen(path.c_str(), "wb")), rate_(rate), channels_(channels) {
  if (f_ == nullptr) throw WaveError("cannot write " + path + ": " + std::strerror(errno));
  try {
    WriteHeader(f_, rate_, channels_, 0);
  } catch (const WaveError&) {
    std::fclose(f_);
    throw WaveError("cannot write " + path);
  }
}

WaveWriter::~WaveWriter() {
  if (f_ == nullptr) return;
  try {
    Close();
  } catch (const WaveError&) {
  }
}

void WaveWriter::Append(const int16_t* samples, size_t frames) {
  unsigned char buf[4096];
  const size_t count = frames * channels_;
  for (size_t i = 0; ok_ && i < count;) {
    size_t n = 0;
    for (; n + 2 <= sizeof buf && i < count; ++i, n += 2) {
      const auto v = static_cast<uint16_t>(samples[i]);
      buf[n] = static_cast<unsigned char>(v);
      buf[n + 1] = static_cast<unsigned char>(v >> 8);
    }
    ok_ = std::fwrite(buf, 1, n, f_) == n;
  }
  frames_ += frames;
}

void WaveWriter::Append(const float* samples, size_t frames) {
  std::vector<int16_t> converted(frames * channels_);
  std::transform(samples, samples + converted.size(), converted.begin(), ToInt16);
  Append(converted.data(), frames);
}

void WaveWriter::Flush() {
  if (f_ == nullptr || !ok_) return;
  try {
    ok_ = std::fseek(f_, 0, SEEK_SET) == 0;
    if (ok_) WriteHeader(f_, rate_, channels_, frames_);
    ok_ = ok_ && std::fseek(f_, 0, SEEK_END) == 0 && std::fflush(f_) == 0;
  } catch (const WaveError&) {
    ok_ = false;
  }
}

void WaveWriter::Close() {
  if (f_ == nullptr) return;
  std::FILE* f = f_;
  f_ = nullptr;
  // A RIFF file counts its bytes in 32 bits (about six hours of 44.1 kHz stereo).
  const bool fits = frames_ * channels_ * 2 <= 0xFFFFFFFFu - 36;
  bool ok = ok_ && fits && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    try {
      WriteHeader(f, rate_, channels_, frames_);
    } catch (const WaveError&) {
      ok = false;
    }
  }
  ok = std::fflush(f) == 0 && ok;
  ok = std::fclose(f) == 0 && ok;
  if (!fits) throw WaveError(path_ + ": too long for a wave file");
  if (!ok) throw WaveError("cannot write " + path_);
}

}  // namespace qv

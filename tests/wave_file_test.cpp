// wave_file_test.cpp -- the one reader and writer of wave files: what it writes reads back, the
// formats other tools write (8-bit, float, WAVE_FORMAT_EXTENSIBLE, extra chunks) decode, and a
// file still being written reads whole.
#include "platform/wave_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "support.h"

namespace qv {
namespace {

// A file as another tool writes it, byte by byte: a format chunk of its own, a LIST chunk
// before the data.
void WriteForeign(const std::string& path, const std::string& fmt, const std::string& data) {
  std::ofstream f(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  f.write("RIFF", 4), u32(static_cast<uint32_t>(4 + 8 + fmt.size() + 12 + 8 + data.size()));
  f.write("WAVEfmt ", 8), u32(static_cast<uint32_t>(fmt.size())), f << fmt;
  f.write("LIST", 4), u32(4), f.write("INFO", 4);
  f.write("data", 4), u32(static_cast<uint32_t>(data.size())), f << data;
}

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

TEST(WaveFile, ReadsWhatItWritesAndTheFormatsOtherToolsWrite) {
  test::TempDir dir;
  const int16_t pcm16[] = {0, 1000, -1000, 32767, -32768, 7};
  WriteWave(dir / "a.wav", 22050, 2, pcm16, 3);
  const Pcm a = ReadWave(dir / "a.wav");
  EXPECT_EQ(a.rate, 22050u);
  EXPECT_EQ(a.channels, 2);
  ASSERT_EQ(a.frames, 3u);
  EXPECT_EQ(std::memcmp(a.samples.get(), pcm16, sizeof pcm16), 0);
  EXPECT_FLOAT_EQ(ReadWaveFloat(dir / "a.wav").samples[1], 1000 / 32768.0f);

  // 32-bit float in WAVE_FORMAT_EXTENSIBLE, as sox and capture tools write it.
  const uint16_t ext[] = {
      0xFFFE, 1, 48000 & 0xFFFF, 0, 48000 * 4 & 0xFFFF, 48000 * 4 >> 16, 4, 32, 22, 32, 4, 0};
  const float floats[] = {0.5f, -0.25f, 2.0f, 0.0f};
  WriteForeign(dir / "x.wav",
               Bytes(ext, sizeof ext) + Bytes("\x03\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00"
                                              "\xaa\x00\x38\x9b\x71",
                                              16),
               Bytes(floats, sizeof floats));
  const WaveFormat w = ReadWaveFormat(dir / "x.wav");
  EXPECT_TRUE(w.is_float);
  EXPECT_EQ(w.frames, 4u);
  EXPECT_EQ(w.rate, 48000u);
  const Pcm x = ReadWave(dir / "x.wav");
  EXPECT_EQ(x.samples[0], 16384);
  EXPECT_EQ(x.samples[1], -8192);
  EXPECT_EQ(x.samples[2], 32767);  // clipped to full scale

  // 8-bit stereo, unsigned around 128.
  const uint16_t u8[] = {1, 2, 11025, 0, 22050, 0, 2, 8};
  WriteForeign(dir / "u8.wav", Bytes(u8, sizeof u8), Bytes("\x80\xff\x00\xc0", 4));
  const Pcm b = ReadWave(dir / "u8.wav");
  EXPECT_EQ(b.channels, 2);
  ASSERT_EQ(b.frames, 2u);
  EXPECT_EQ(b.samples[0], 0);
  EXPECT_EQ(b.samples[1], 32511);  // 127/128 of full scale
  EXPECT_EQ(b.samples[2], -32767);
  EXPECT_EQ(b.samples[3], 16384);

  EXPECT_THROW(ReadWave(dir / "missing.wav"), WaveError);
  std::ofstream(dir / "broken.wav") << "RIFF not really";
  EXPECT_THROW(ReadWave(dir / "broken.wav"), WaveError);
}

// A capture is read while its writer goes on: each flush leaves a whole file of what came so far.
TEST(WaveFile, AWriterFlushedMidWayLeavesAWholeFile) {
  test::TempDir dir;
  WaveWriter out(dir / "growing.wav", 44100, 2);
  const float half[] = {0.5f, -0.5f, 0.25f, -0.25f};
  out.Append(half, 2);
  out.Flush();
  EXPECT_EQ(ReadWaveFormat(dir / "growing.wav").frames, 2u);
  out.Append(half, 2);
  out.Flush();
  const Pcm grown = ReadWave(dir / "growing.wav");
  ASSERT_EQ(grown.frames, 4u);
  EXPECT_EQ(grown.samples[7], -8192);  // 0.25 of full scale, rounded as WriteWave rounds
  out.Close();
  EXPECT_EQ(ReadWaveFormat(dir / "growing.wav").frames, 4u);
}

}  // namespace
}  // namespace qv

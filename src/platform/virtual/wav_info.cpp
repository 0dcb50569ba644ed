// wav_info.cpp -- the RIFF chunk walk for wave headers.
#include "platform/virtual/wav_info.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/platform.h"

namespace qv {

namespace {

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

WavInfo ReadWavInfo(const std::string& path, const std::string& name) {
  auto fail = [&](const std::string& why) -> PlatformError {
    return PlatformError("Cannot load sound file " + name + ": " + why);
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) throw fail("cannot open " + path);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (bytes.size() < 12 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF" ||
      std::string(bytes.begin() + 8, bytes.begin() + 12) != "WAVE") {
    throw fail("not a RIFF WAVE file");
  }
  WavInfo info;
  bool have_fmt = false;
  size_t pos = 12;
  while (pos + 8 <= bytes.size()) {
    std::string id(bytes.begin() + static_cast<long>(pos),
                   bytes.begin() + static_cast<long>(pos + 4));
    uint32_t size = Le32(&bytes[pos + 4]);
    size_t body = pos + 8;
    if (id == "fmt " && size >= 16 && body + 16 <= bytes.size()) {
      uint16_t format = Le16(&bytes[body]);
      info.channels = Le16(&bytes[body + 2]);
      info.sample_rate = Le32(&bytes[body + 4]);
      info.bits_per_sample = Le16(&bytes[body + 14]);
      if (format != 1 && format != 0xFFFE) throw fail("not PCM");
      have_fmt = true;
    } else if (id == "data") {
      if (!have_fmt) throw fail("data before format");
      if (info.channels < 1 || info.channels > 2 ||
          (info.bits_per_sample != 8 && info.bits_per_sample != 16) || info.sample_rate == 0) {
        throw fail("unsupported format");
      }
      // A data chunk that claims more than the file holds is cut to what is there.
      uint32_t available = static_cast<uint32_t>(std::min<size_t>(size, bytes.size() - body));
      info.frames = available / (info.channels * (info.bits_per_sample / 8u));
      return info;
    }
    pos = body + size + (size & 1u);  // chunks are padded to even sizes
  }
  throw fail("no sound data");
}

}  // namespace qv

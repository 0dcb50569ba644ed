// zstd_stored.cpp -- zstd's calls as the replay files make them, for the browser build, where
// zstd has no WebAssembly library among Debian's packages: a replay is written as a zstd frame
// whose blocks are stored as they are (RFC 8878's raw blocks), which any zstd reads, the score
// server's included. A browser game's events are a few tens of kilobytes, its turns being few.
// Reading takes such frames only.
#include <zstd.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t kMagic = 0xFD2FB528;
// Frame header descriptor: a 4-byte content size, a single segment (no window descriptor), no
// checksum, no dictionary.
constexpr uint8_t kDescriptor = (2 << 6) | (1 << 5);
constexpr size_t kHeader = 4 + 1 + 4;
constexpr size_t kBlockMax = 128 * 1024;
// zstd's error codes are the largest size_t values; this one says "a generic error".
constexpr size_t kError = static_cast<size_t>(-1);

void Put32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// The one context the build hands out: stored frames need no state.
int context;

}  // namespace

extern "C" {

size_t ZSTD_compressBound(size_t size) { return kHeader + size + 3 * (size / kBlockMax + 1); }
ZSTD_CCtx* ZSTD_createCCtx() { return reinterpret_cast<ZSTD_CCtx*>(&context); }
size_t ZSTD_freeCCtx(ZSTD_CCtx*) { return 0; }
size_t ZSTD_CCtx_setParameter(ZSTD_CCtx*, ZSTD_cParameter, int) { return 0; }
unsigned ZSTD_isError(size_t code) { return code > static_cast<size_t>(-120) ? 1 : 0; }
const char* ZSTD_getErrorName(size_t) { return "not a frame of stored blocks"; }

size_t ZSTD_compress2(ZSTD_CCtx*, void* out, size_t room, const void* in, size_t size) {
  if (size > 0xFFFFFFFFu || room < ZSTD_compressBound(size)) return kError;
  auto* o = static_cast<uint8_t*>(out);
  const auto* i = static_cast<const uint8_t*>(in);
  Put32(o, kMagic);
  o[4] = kDescriptor;
  Put32(o + 5, static_cast<uint32_t>(size));
  size_t at = kHeader, done = 0;
  do {
    const size_t n = size - done < kBlockMax ? size - done : kBlockMax;
    const uint32_t block = (static_cast<uint32_t>(n) << 3) | (done + n == size ? 1u : 0u);
    o[at] = static_cast<uint8_t>(block);
    o[at + 1] = static_cast<uint8_t>(block >> 8);
    o[at + 2] = static_cast<uint8_t>(block >> 16);
    std::memcpy(o + at + 3, i + done, n);
    at += 3 + n;
    done += n;
  } while (done < size);
  return at;
}

unsigned long long ZSTD_getFrameContentSize(const void* frame, size_t size) {
  const auto* f = static_cast<const uint8_t*>(frame);
  if (size < kHeader || Get32(f) != kMagic || f[4] != kDescriptor) return ZSTD_CONTENTSIZE_ERROR;
  return Get32(f + 5);
}

size_t ZSTD_decompress(void* out, size_t room, const void* frame, size_t size) {
  const auto* f = static_cast<const uint8_t*>(frame);
  if (ZSTD_getFrameContentSize(frame, size) == ZSTD_CONTENTSIZE_ERROR) return kError;
  size_t at = kHeader, done = 0;
  for (bool last = false; !last;) {
    if (at + 3 > size) return kError;
    const uint32_t block = f[at] | (f[at + 1] << 8) | (static_cast<uint32_t>(f[at + 2]) << 16);
    last = (block & 1) != 0;
    const size_t n = block >> 3;
    if (((block >> 1) & 3) != 0 || at + 3 + n > size || done + n > room) return kError;
    std::memcpy(static_cast<uint8_t*>(out) + done, f + at + 3, n);
    at += 3 + n;
    done += n;
  }
  return done;
}
}

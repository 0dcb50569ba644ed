// zstd_unavailable.cpp -- zstd's calls as the replay files make them, for the browser build,
// where zstd has no WebAssembly library: each fails as zstd fails (an error code, or a frame it
// cannot read), so that writing or reading a replay there reports why rather than crash. The
// browser version keeps no replays.
#include <zstd.h>

#include <cstdint>

namespace {

// zstd's error codes are the largest size_t values; this one says "a generic error".
constexpr size_t kUnavailable = static_cast<size_t>(-1);

}  // namespace

extern "C" {

size_t ZSTD_compressBound(size_t size) { return size; }
ZSTD_CCtx* ZSTD_createCCtx() { return nullptr; }
size_t ZSTD_freeCCtx(ZSTD_CCtx*) { return 0; }
size_t ZSTD_CCtx_setParameter(ZSTD_CCtx*, ZSTD_cParameter, int) { return kUnavailable; }
size_t ZSTD_compress2(ZSTD_CCtx*, void*, size_t, const void*, size_t) { return kUnavailable; }
unsigned ZSTD_isError(size_t code) { return code > static_cast<size_t>(-120) ? 1 : 0; }
const char* ZSTD_getErrorName(size_t) { return "zstd is not part of the browser version"; }
unsigned long long ZSTD_getFrameContentSize(const void*, size_t) { return ZSTD_CONTENTSIZE_ERROR; }
size_t ZSTD_decompress(void*, size_t, const void*, size_t) { return kUnavailable; }
}

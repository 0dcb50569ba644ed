// request_head_fuzz.cpp -- fuzzes the score server's reading of a request head from whatever a
// client sends: no input crashes it, it never reads past what it was given, it refuses only
// with the statuses it names, and more bytes never change a head it has already read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "request_head.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "request_head: %s\n", what);
    std::abort();
  }
}

using Outcome = scores::HeadReading::Outcome;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const scores::HeadReading r = scores::ReadRequestHead(bytes);
  switch (r.outcome) {
    case Outcome::kIncomplete:
      // A connection keeps at most the limits' worth of an unfinished head.
      Require(size <= scores::kMaxRequestLine + scores::kMaxHeaderBytes + 4,
              "an unfinished head past the limits is still awaited");
      break;
    case Outcome::kRefused:
      Require(r.status == 400 || r.status == 413 || r.status == 414 || r.status == 431 ||
                  r.status == 505,
              "a refusal with an unexpected status");
      break;
    case Outcome::kComplete: {
      Require(r.length > 0 && r.length <= size, "a head longer than the bytes read");
      Require(!r.head.method.empty() && !r.head.target.empty(), "a head without its request line");
      // The head alone reads the same; what follows it (the next request) changes nothing.
      const scores::HeadReading alone = scores::ReadRequestHead(bytes.substr(0, r.length));
      Require(alone.outcome == Outcome::kComplete && alone.length == r.length &&
                  alone.head.method == r.head.method && alone.head.target == r.head.target &&
                  alone.head.keep_alive == r.head.keep_alive,
              "the bytes after a head changed how it reads");
      // Cut short, it is not yet read, or it is refused (a limit passed on the way).
      const scores::HeadReading cut = scores::ReadRequestHead(bytes.substr(0, r.length - 1));
      Require(cut.outcome != Outcome::kComplete || cut.length < r.length,
              "a head read before its end");
      break;
    }
  }
  return 0;
}

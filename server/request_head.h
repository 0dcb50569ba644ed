// request_head.h -- reading one HTTP/1.x request head (the request line and its header fields)
// from the bytes a connection has received, within fixed limits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace scores {

// The longest request line and the most header bytes after it that a request may have. A
// submission's line is a few hundred bytes; anything near these limits is not from the game or
// a browser, and refusing it as soon as the limit is passed keeps a connection's buffer small.
inline constexpr std::size_t kMaxRequestLine = 8 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024;

struct RequestHead {
  std::string method;
  std::string target;  // as sent: the path and the raw query
  // Whether the client keeps the connection for another request: HTTP/1.1 unless it sent
  // "Connection: close", HTTP/1.0 only when it sent "Connection: keep-alive".
  bool keep_alive = true;
  bool http10 = false;
};

struct HeadReading {
  enum class Outcome { kIncomplete, kComplete, kRefused };
  Outcome outcome = Outcome::kIncomplete;
  // When complete: how many bytes the head took, its blank line (and any blank lines before
  // the request line) included; the next request starts there.
  std::size_t length = 0;
  // When refused: 400 malformed, 413 a request with a body (nothing here takes one), 414 request
  // line too long, 431 header fields too long, 505 not HTTP/1.x. The connection closes after.
  int status = 0;
  RequestHead head;
};

// Called by a connection with the bytes received since its last request ended, whenever more
// arrive. Incomplete while the head has not ended and no limit is passed; refused as soon as the
// bytes pass a limit, without waiting for the rest. Lines may end in CRLF or a bare LF.
HeadReading ReadRequestHead(std::string_view bytes);

}  // namespace scores

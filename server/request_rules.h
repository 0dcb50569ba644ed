// request_rules.h -- the rules on a request head that the score server keeps itself, beyond what
// libmicrohttpd checks: pure functions on what the library read, so that they can be tested
// and fuzzed alone.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scores {

// The longest request line and the most header bytes after it that a request may have. A
// submission's line is a few hundred bytes; anything near these limits is not from the game or
// a browser.
inline constexpr std::size_t kMaxRequestLine = 8 * 1024;
inline constexpr std::size_t kMaxHeaderBytes = 16 * 1024;

// A request head as the library read it, with what it hides put back: the method and the
// target as sent, a NUL inside either one included (the library cuts both there).
struct Head {
  std::string_view method;
  std::string_view target;
  std::string_view version;  // HTTP/1.0 or HTTP/1.1: the library refuses others itself
  std::vector<std::pair<std::string_view, std::string_view>> fields;  // names and values
  std::size_t line_bytes = 0;   // the request line, without its line end
  std::size_t field_bytes = 0;  // everything after it, the blank line included
};

// The rules the library leaves to its user: a method that is a token and a target without
// control characters or spaces (a NUL in either is a smuggling attempt behind a proxy that cuts
// at it), field names that are tokens and values without control characters but tabs (a bare
// CR is another way to split a line), exactly one Host field for HTTP/1.1 and at most one for
// 1.0 (RFC 9112), and the request line and the fields within their limits (414, 431). 0 when the
// head may be served, else the status to refuse it with.
int CheckHead(const Head& head);

// The origin-form target ("/path?query") of a target in origin or absolute form
// ("http://host/path?query" gives "/path?query"); empty when it is in neither form.
std::string OriginForm(std::string_view target);

}  // namespace scores

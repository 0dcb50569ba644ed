// request_head.cpp -- the request line and header fields of one HTTP/1.x request.
#include "request_head.h"

#include <cctype>
#include <cstring>

namespace scores {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

// The line starting at `from`, without its line end, and where the next one starts. False
// when its line end has not arrived yet.
bool NextLine(std::string_view bytes, std::size_t from, std::string_view& line, std::size_t& next) {
  std::size_t lf = bytes.find('\n', from);
  if (lf == kNone) return false;
  std::size_t end = lf > from && bytes[lf - 1] == '\r' ? lf - 1 : lf;
  line = bytes.substr(from, end - from);
  next = lf + 1;
  return true;
}

// The characters of a method or a field name.
bool IsToken(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c)) &&
        std::strchr("!#$%&'*+-.^_`|~", c) == nullptr) {
      return false;
    }
  }
  return true;
}

// No control character but a tab: a CR inside a line or a NUL is an attempt to confuse.
bool IsFieldValue(std::string_view text) {
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) return false;
  }
  return true;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// True when a comma-separated field value ("keep-alive, Upgrade") holds `token`, in any case.
bool HasToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    std::size_t comma = list.find(',');
    if (EqualsIgnoringCase(Trim(list.substr(0, comma)), token)) return true;
    list = comma == kNone ? std::string_view() : list.substr(comma + 1);
  }
  return false;
}

HeadReading Refused(int status) {
  HeadReading reading;
  reading.outcome = HeadReading::Outcome::kRefused;
  reading.status = status;
  return reading;
}

// METHOD SP TARGET SP HTTP/1.x, one space each. 0 when it is well formed.
int ReadRequestLine(std::string_view line, RequestHead& head) {
  std::size_t first = line.find(' ');
  std::size_t second = first == kNone ? kNone : line.find(' ', first + 1);
  if (second == kNone || line.find(' ', second + 1) != kNone) return 400;
  std::string_view method = line.substr(0, first);
  std::string_view target = line.substr(first + 1, second - first - 1);
  std::string_view version = line.substr(second + 1);
  if (!IsToken(method) || target.empty() || !IsFieldValue(target) || target.find('\t') != kNone) {
    return 400;
  }
  if (version == "HTTP/1.1") {
    head.http10 = false;
  } else if (version == "HTTP/1.0") {
    head.http10 = true;
  } else if (version.size() == 8 && version.starts_with("HTTP/") &&
             std::isdigit(static_cast<unsigned char>(version[5])) && version[6] == '.' &&
             std::isdigit(static_cast<unsigned char>(version[7]))) {
    return 505;
  } else {
    return 400;
  }
  head.method = method;
  head.target = target;
  head.keep_alive = !head.http10;
  return 0;
}

// One "Name: value" line; only the fields that change how the request is read matter here.
int ReadField(std::string_view line, RequestHead& head) {
  std::size_t colon = line.find(':');
  // A line that starts with a blank continues the previous field, a form HTTP/1.1 retired.
  if (colon == kNone || !IsToken(line.substr(0, colon))) return 400;
  std::string_view name = line.substr(0, colon);
  std::string_view value = Trim(line.substr(colon + 1));
  if (!IsFieldValue(value)) return 400;
  if (EqualsIgnoringCase(name, "Connection")) {
    if (HasToken(value, "close")) {
      head.keep_alive = false;
    } else if (head.http10 && HasToken(value, "keep-alive")) {
      head.keep_alive = true;
    }
  } else if (EqualsIgnoringCase(name, "Content-Length")) {
    if (value.empty() || value.find_first_not_of("0123456789") != kNone) return 400;
    if (value.find_first_not_of('0') != kNone) return 413;
  } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
    return 413;
  }
  return 0;
}

}  // namespace

HeadReading ReadRequestHead(std::string_view bytes) {
  // Blank lines before a request line are allowed (a client may end its previous request with
  // one too many), but not without end.
  std::size_t start = 0;
  while (start < bytes.size() && (bytes[start] == '\r' || bytes[start] == '\n')) ++start;
  if (start > kMaxRequestLine) return Refused(400);

  std::string_view request_line;
  std::size_t fields_start;
  if (!NextLine(bytes, start, request_line, fields_start)) {
    // One byte more than the limit for a CR whose LF has not come yet.
    return bytes.size() - start > kMaxRequestLine + 1 ? Refused(414) : HeadReading();
  }
  if (request_line.size() > kMaxRequestLine) return Refused(414);

  // Find the blank line that ends the head before reading any field, so that the limit holds
  // however the fields are cut into lines.
  std::size_t at = fields_start;
  std::string_view line;
  std::size_t next;
  for (;;) {
    if (!NextLine(bytes, at, line, next)) {
      return bytes.size() - fields_start > kMaxHeaderBytes ? Refused(431) : HeadReading();
    }
    if (next - fields_start > kMaxHeaderBytes) return Refused(431);
    if (line.empty()) break;
    at = next;
  }

  HeadReading reading;
  if (int status = ReadRequestLine(request_line, reading.head)) return Refused(status);
  for (at = fields_start; NextLine(bytes, at, line, at) && !line.empty();) {
    if (int status = ReadField(line, reading.head)) return Refused(status);
  }
  reading.outcome = HeadReading::Outcome::kComplete;
  reading.length = next;
  return reading;
}

}  // namespace scores

// request_rules.cpp -- the request-head rules the score server keeps beyond libmicrohttpd's.
#include "request_rules.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace scores {
namespace {

bool IsTokenChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) ||
         (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

int CheckHead(const Head& head) {
  // One byte for the line end at least, so a limit passed by the line end alone is no fault.
  if (head.line_bytes > kMaxRequestLine) return 414;
  if (head.field_bytes > kMaxHeaderBytes + 2) return 431;
  if (!IsToken(head.method)) return 400;
  if (head.target.empty() || std::any_of(head.target.begin(), head.target.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F;
      })) {
    return 400;
  }
  int hosts = 0;
  for (auto [name, value] : head.fields) {
    if (!IsToken(name) || std::any_of(value.begin(), value.end(), [](char c) {
          auto byte = static_cast<unsigned char>(c);
          return (byte < 0x20 && c != '\t') || byte == 0x7F;
        })) {
      return 400;
    }
    if (EqualsIgnoringCase(name, "Host")) ++hosts;
  }
  bool http10 = head.version == "HTTP/1.0";
  if (hosts > 1 || (!http10 && hosts == 0)) return 400;
  return 0;
}

std::string OriginForm(std::string_view target) {
  if (target.starts_with('/')) return std::string(target);
  // An absolute URL: its scheme, "://", an authority, then the path (RFC 9112, 3.2.2). The
  // authority names this server, whatever it says: the server has one site.
  std::size_t scheme_end = target.find("://");
  if (scheme_end == std::string_view::npos || scheme_end == 0) return "";
  std::string_view scheme = target.substr(0, scheme_end);
  if (!EqualsIgnoringCase(scheme, "http") && !EqualsIgnoringCase(scheme, "https")) return "";
  std::string_view rest = target.substr(scheme_end + 3);
  std::size_t path = rest.find_first_of("/?");
  if (path == 0) return "";  // no authority
  if (path == std::string_view::npos) return "/";
  return (rest[path] == '?' ? "/" : "") + std::string(rest.substr(path));
}

}  // namespace scores

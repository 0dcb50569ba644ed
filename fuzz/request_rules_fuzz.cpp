// request_rules_fuzz.cpp -- fuzzes the request-head rules the score server keeps beyond
// libmicrohttpd's: no head crashes them, a head they let through keeps every rule as checked
// here another way, and the origin form of a target is a path of that same target.
//
// The input is split at '\n': the method, the target, a version ("0" for HTTP/1.0, anything
// else HTTP/1.1), then one header field a line, its name before the first ':'.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "request_rules.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "request_rules: %s\n", what);
    std::abort();
  }
}

// RFC 9110's token characters, spelled out rather than derived.
constexpr std::string_view kTokenChars =
    "!#$%&'*+-.^_`|~0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

bool IsToken(std::string_view text) {
  return !text.empty() && text.find_first_not_of(kTokenChars) == std::string_view::npos;
}

bool IsHost(std::string_view name) {
  return name.size() == 4 && (name[0] | 0x20) == 'h' && (name[1] | 0x20) == 'o' &&
         (name[2] | 0x20) == 's' && (name[3] | 0x20) == 't';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> lines;
  while (!rest.empty() || lines.size() < 3) {
    std::size_t end = rest.find('\n');
    lines.push_back(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  scores::Head head;
  head.method = lines[0];
  head.target = lines[1];
  head.version = lines[2] == "0" ? "HTTP/1.0" : "HTTP/1.1";
  head.line_bytes = head.method.size() + head.target.size() + head.version.size() + 2;
  head.field_bytes = 2;
  for (std::size_t i = 3; i < lines.size(); ++i) {
    std::size_t colon = lines[i].find(':');
    std::string_view name = lines[i].substr(0, colon);
    std::string_view value = colon == std::string_view::npos ? "" : lines[i].substr(colon + 1);
    head.fields.emplace_back(name, value);
    head.field_bytes += name.size() + value.size() + 4;
  }

  const int status = scores::CheckHead(head);
  Require(status == 0 || status == 400 || status == 414 || status == 431,
          "a refusal with an unexpected status");
  if (status == 0) {
    Require(head.line_bytes <= scores::kMaxRequestLine,
            "a request line past its limit let through");
    Require(head.field_bytes <= scores::kMaxHeaderBytes + 2, "header fields past their limit");
    Require(IsToken(head.method), "a method that is not a token let through");
    for (char c : head.target) {
      Require(static_cast<unsigned char>(c) > 0x20 && c != 0x7F, "a target with a control byte");
    }
    int hosts = 0;
    for (auto [name, value] : head.fields) {
      Require(IsToken(name), "a field name that is not a token let through");
      for (char c : value) {
        Require(c == '\t' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F),
                "a field value with a control byte");
      }
      hosts += IsHost(name);
    }
    Require(hosts == 1 || (hosts == 0 && head.version == "HTTP/1.0"), "a head without one Host");
  }

  const std::string origin = scores::OriginForm(head.target);
  if (head.target.starts_with('/')) {
    Require(origin == head.target, "an origin-form target changed");
  } else if (!origin.empty()) {
    // A path of the URL's own: its tail, or "/" before a query.
    Require(origin.starts_with('/'), "an origin form not starting with '/'");
    std::string_view tail = origin == "/" || origin.starts_with("/?")
                                ? std::string_view(origin).substr(1)
                                : std::string_view(origin);
    Require(head.target.ends_with(tail), "an origin form not taken from the target");
    Require(scores::OriginForm(origin) == origin, "an origin form read again changed");
  }
  return 0;
}

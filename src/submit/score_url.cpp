// score_url.cpp -- building the submission's URL.
#include "submit/score_url.h"

#include <cstdlib>

namespace qv {

namespace {

// A constant of the program, the same for every player.
constexpr const char* kScorePassword = "417bqwtn58";

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string ScoreServerHost() {
  const char* host = std::getenv("QUORVANE_SCORE_HOST");
  return host != nullptr && *host != '\0' ? host : kDefaultScoreHost;
}

std::string PercentEncode(const std::string& value) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : value) {
    auto c = static_cast<unsigned char>(ch);
    if (Unreserved(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

std::string ScoreUrl(const std::string& host, const ScoreReport& report) {
  return "http://" + host + "/scores/quorvane.php?password=" + PercentEncode(kScorePassword) +
         "&level=" + PercentEncode(report.level) + "&score=" + PercentEncode(report.score) +
         "&name=" + PercentEncode(report.name) + "&email=" + PercentEncode(report.email);
}

std::string ReplayUrl(const std::string& host) { return "http://" + host + "/scores/replays"; }

}  // namespace qv

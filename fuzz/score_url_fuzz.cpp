// score_url_fuzz.cpp -- fuzzes the game's score URL against the server's reading of it: any
// name, e-mail address, level and score the settings file could hold are percent-encoded by
// the game and must come back, byte for byte, from the server's query parser.
// Input: four fields separated by NUL bytes (name, e-mail, level, score).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "submit/score_url.h"
#include "validate.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "score_url: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && fields.size() < 4) {
      fields.emplace_back();
    } else {
      fields.back() += static_cast<char>(data[i]);
    }
  }
  fields.resize(4);
  const qv::ScoreReport report{fields[0], fields[2], fields[3], fields[1]};
  const std::string url = qv::ScoreUrl("127.0.0.1:8080", report);
  const size_t query_at = url.find('?');
  Require(query_at != std::string::npos, "no query in the URL");
  const std::string query = url.substr(query_at + 1);
  // Nothing but unreserved characters, '%', '=' and '&' travels in the query.
  for (char c : query) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' || c == '%' || c == '=' ||
                       c == '&';
    Require(plain, "a character that needs encoding travels as it is");
  }
  const auto parsed = scores::ParseQuery(query);
  Require(parsed.has_value(), "the server cannot read the game's query");
  Require(parsed->at("password") == scores::kGamePassword, "the password changed on the way");
  Require(parsed->at("name") == report.name, "the name changed on the way");
  Require(parsed->at("email") == report.email, "the e-mail address changed on the way");
  Require(parsed->at("level") == report.level, "the level changed on the way");
  Require(parsed->at("score") == report.score, "the score changed on the way");
  return 0;
}

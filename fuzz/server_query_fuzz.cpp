// server_query_fuzz.cpp -- fuzzes the score server's reading of a raw query string: no input
// crashes it, and whatever it accepts keeps every rule a stored submission must keep.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "validate.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "server_query: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const scores::Verdict v = scores::CheckSubmission(raw);
  Require(v.status == 200 || v.status == 400 || v.status == 403, "an unexpected status");
  if (v.status != 200) return 0;
  const scores::Submission& s = v.submission;
  Require(s.level >= 1 && s.level <= 3, "a level outside 1..3 accepted");
  Require(s.score >= 0 && s.score <= scores::kMaxScore, "a score out of range accepted");
  Require(scores::IsCleanText(s.name, scores::kMaxTextLength), "an unclean name accepted");
  Require(scores::IsCleanText(s.email, scores::kMaxTextLength), "an unclean address accepted");
  // What was accepted reads the same way again.
  const auto parsed = scores::ParseQuery(raw);
  Require(parsed && parsed->at("password") == scores::kGamePassword,
          "accepted without the password");
  return 0;
}

// validate.h -- reading a score submission from its raw query string: percent-decoding and the
// rules a submission must pass before anything is stored.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "store.h"

namespace scores {

// The constant the game sends with every submission.
inline constexpr std::string_view kGamePassword = "417bqwtn58";
inline constexpr int kMaxScore = 10'000'000;
// Longest name or e-mail address, in characters (UTF-8 code points), not bytes.
inline constexpr std::size_t kMaxTextLength = 64;

// Decodes one query component: %XX (either case) becomes its byte and '+' a space, as HTML
// forms send it; the game encodes '+' itself as %2B. Nullopt for a '%' not followed by two hex
// digits, so a mangled value is refused rather than guessed at.
std::optional<std::string> PercentDecode(std::string_view text);

// Splits a raw query ("a=1&b=2", without the '?') into decoded keys and values. A key without
// '=' has an empty value; empty pieces ("a=1&&b=2") are skipped. Nullopt when a component does
// not decode or a key appears twice, since either way the sender's intent is unclear.
std::optional<std::map<std::string, std::string>> ParseQuery(std::string_view raw);

// True when text is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF), holds no control character (C0, DEL or C1) and has at most max_chars code points.
bool IsCleanText(std::string_view text, std::size_t max_chars);

struct Verdict {
  int status = 400;       // the HTTP status to answer: 200 when the submission may be stored
  std::string reason;     // a short text for the answer's body when the status is not 200
  Submission submission;  // filled when status is 200
};

// Called by the submission route with the raw query of the request (the part after '?').
// 403 when the password is missing or wrong; 400 for a malformed query or any other rule
// broken; 200 with the decoded submission otherwise.
Verdict CheckSubmission(std::string_view raw_query);

}  // namespace scores

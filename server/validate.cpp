// validate.cpp -- percent-decoding of the query and the rules of a valid submission.
#include "validate.h"

#include <cstdint>

namespace scores {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A whole number of digits only, no sign or blanks, at most `max`. Leading zeros are allowed;
// the digit count is capped so a long run of digits cannot overflow.
std::optional<int> ParseBoundedNumber(std::string_view text, int max) {
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > max) return std::nullopt;
  }
  return static_cast<int>(value);
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      int high = HexValue(text[i + 1]);
      int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::map<std::string, std::string>> ParseQuery(std::string_view raw) {
  std::map<std::string, std::string> fields;
  while (!raw.empty()) {
    std::size_t amp = raw.find('&');
    std::string_view piece = raw.substr(0, amp);
    raw = amp == std::string_view::npos ? std::string_view() : raw.substr(amp + 1);
    if (piece.empty()) continue;
    std::size_t eq = piece.find('=');
    auto key = PercentDecode(piece.substr(0, eq));
    auto value =
        PercentDecode(eq == std::string_view::npos ? std::string_view() : piece.substr(eq + 1));
    if (!key || !value) return std::nullopt;
    if (!fields.emplace(std::move(*key), std::move(*value)).second) return std::nullopt;
  }
  return fields;
}

bool IsCleanText(std::string_view text, std::size_t max_chars) {
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::uint32_t code;
    std::size_t length;
    if (lead < 0x80) {
      code = lead;
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      code = lead & 0x1F;
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      code = lead & 0x0F;
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      code = lead & 0x07;
      length = 4;
    } else {
      return false;  // a stray continuation byte, an overlong two-byte lead, or past U+10FFFF
    }
    if (i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong three- and four-byte forms, UTF-16 surrogates and code points past U+10FFFF.
    if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
        (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      return false;
    }
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) return false;
    if (++chars > max_chars) return false;
    i += length;
  }
  return true;
}

Verdict CheckSubmission(std::string_view raw_query) {
  Verdict verdict;
  auto fields = ParseQuery(raw_query);
  if (!fields) {
    verdict.reason = "malformed query";
    return verdict;
  }
  auto field = [&](const char* key) -> std::optional<std::string_view> {
    auto it = fields->find(key);
    if (it == fields->end()) return std::nullopt;
    return std::string_view(it->second);
  };
  if (field("password") != kGamePassword) {
    verdict.status = 403;
    verdict.reason = "wrong password";
    return verdict;
  }
  auto level = ParseBoundedNumber(field("level").value_or(""), 3);
  if (!level || *level < 1) {
    verdict.reason = "level must be 1, 2 or 3";
    return verdict;
  }
  auto score = ParseBoundedNumber(field("score").value_or(""), kMaxScore);
  if (!score) {
    verdict.reason = "score must be a whole number from 0 to 10000000";
    return verdict;
  }
  std::string_view name = field("name").value_or("");
  std::string_view email = field("email").value_or("");
  if (!IsCleanText(name, kMaxTextLength)) {
    verdict.reason = "name must be UTF-8 text of at most 64 characters without control characters";
    return verdict;
  }
  if (!IsCleanText(email, kMaxTextLength)) {
    verdict.reason = "email must be UTF-8 text of at most 64 characters without control characters";
    return verdict;
  }
  verdict.status = 200;
  verdict.submission = Submission{*level, *score, std::string(name), std::string(email)};
  return verdict;
}

}  // namespace scores

// page.cpp -- rendering the leaderboard as HTML and as JSON.
#include "page.h"

#include <chrono>
#include <cstdio>

namespace scores {
namespace {

// received_at as UTC: "2024-05-01T12:34:56Z", or its date part alone. Plain calendar
// arithmetic: gmtime_r takes glibc's time-zone lock, which the workers would queue on.
std::string IsoTime(std::int64_t seconds, bool date_only = false) {
  using namespace std::chrono;
  sys_seconds time{std::chrono::seconds(seconds)};
  auto day = floor<days>(time);
  year_month_day date{day};
  hh_mm_ss clock{time - day};
  char text[32];
  int length =
      date_only
          ? std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(date.year()),
                          unsigned(date.month()), unsigned(date.day()))
          : std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(date.year()),
                          unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                          int(clock.minutes().count()), int(clock.seconds().count()));
  return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

std::string_view DifficultyName(int level) {
  switch (level) {
    case 1:
      return "Easy";
    case 2:
      return "Medium";
    case 3:
      return "Hard";
  }
  return "";
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else if (c == 0xE2 && i + 2 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) == 0x80 &&
               (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
      // U+2028 LINE SEPARATOR and U+2029 PARAGRAPH SEPARATOR end a line in older JavaScript.
      out += (static_cast<unsigned char>(text[i + 2]) == 0xA8) ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  return out;
}

std::string RenderLeaderboardHtml(const Boards& boards, bool all) {
  std::string page =
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n"
      "<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>QuorVane high scores</title>\n"
      "</head>\n"
      "<body>\n"
      "<main>\n"
      "<h1>QuorVane high scores</h1>\n"
      "<p><a href=\"/play/\">Play QuorVane in your browser</a></p>\n";
  page += all ? "<p>Every score sent, verified or not. A verified score is one the server made "
                "again by running its game's replay. <a href=\"/scores/\">Show verified scores "
                "only</a>.</p>\n"
              : "<p>Scores the server verified by running their game's replay, each with the "
                "game to listen to. <a href=\"/scores/?all=1\">Show every score, verified or "
                "not</a>.</p>\n";
  for (int level = 1; level <= 3; ++level) {
    const auto& board = boards[static_cast<std::size_t>(level - 1)];
    std::string title =
        "Difficulty " + std::to_string(level) + ": " + std::string(DifficultyName(level));
    page += "<section aria-labelledby=\"difficulty-" + std::to_string(level) + "\">\n";
    page += "<h2 id=\"difficulty-" + std::to_string(level) + "\">" + title + "</h2>\n";
    page += "<table>\n<caption>Best " + std::string(all ? "" : "verified ") +
            std::to_string(kBoardLength) + " scores, " + title + "</caption>\n";
    page +=
        "<thead><tr><th scope=\"col\">Rank</th><th scope=\"col\">Name</th>"
        "<th scope=\"col\">Score</th><th scope=\"col\">Date</th>"
        "<th scope=\"col\">Game</th></tr></thead>\n<tbody>\n";
    int rank = 0;
    for (const auto& entry : board) {
      if (!all && entry.replay == 0) continue;
      const std::string name =
          entry.name.empty() ? std::string("(no name)") : HtmlEscape(entry.name);
      page += "<tr><td>" + std::to_string(++rank) + "</td><td>" + name + "</td><td>" +
              std::to_string(entry.score) + "</td><td><time datetime=\"" +
              IsoTime(entry.received_at) + "\">" + IsoTime(entry.received_at, true) +
              "</time></td><td>";
      // The browser's own player, whose buttons every screen reader names; nothing is fetched
      // until it is played.
      page += entry.replay == 0
                  ? std::string("Not verified")
                  : "<audio controls preload=\"none\" aria-label=\"Listen to the game of " + name +
                        ", " + std::to_string(entry.score) + " points\" src=\"/scores/replays/" +
                        std::to_string(entry.replay) +
                        "/audio\">Listen: <a href=\"/scores/replays/" +
                        std::to_string(entry.replay) + "/audio\">the game as heard</a></audio>";
      page += "</td></tr>\n";
    }
    if (rank == 0) {
      page += std::string("<tr><td colspan=\"5\">") +
              (all ? "No scores yet." : "No verified scores yet.") + "</td></tr>\n";
    }
    page += "</tbody>\n</table>\n</section>\n";
  }
  page += "</main>\n</body>\n</html>\n";
  return page;
}

std::string RenderLeaderboardJson(const Boards& boards) {
  std::string json = "{\"difficulties\":[";
  for (int level = 1; level <= 3; ++level) {
    if (level > 1) json += ',';
    json += "{\"level\":" + std::to_string(level) +
            ",\"name\":" + JsonString(DifficultyName(level)) + ",\"scores\":[";
    int rank = 0;
    for (const auto& entry : boards[static_cast<std::size_t>(level - 1)]) {
      if (rank > 0) json += ',';
      json += "{\"rank\":" + std::to_string(++rank) + ",\"name\":" + JsonString(entry.name) +
              ",\"score\":" + std::to_string(entry.score) + ",\"date\":\"" +
              IsoTime(entry.received_at) + "\",\"verified\":" +
              (entry.replay != 0 ? "true,\"replay\":" + std::to_string(entry.replay) : "false") +
              "}";
    }
    json += "]}";
  }
  json += "]}\n";
  return json;
}

}  // namespace scores

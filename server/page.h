// page.h -- the leaderboard as an HTML page for people (and their screen readers) and as JSON.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "store.h"

namespace scores {

// How many scores of each difficulty the leaderboard shows.
inline constexpr int kBoardLength = 100;

// The best scores of difficulties 1, 2 and 3, in that order, each best first.
using Boards = std::array<std::vector<RankedScore>, 3>;

// The difficulty's name beside its number: "Easy", "Medium", "Hard".
std::string_view DifficultyName(int level);

// Escapes &, <, >, " and ' so that any text is shown as text in an element or an attribute.
std::string HtmlEscape(std::string_view text);

// A JSON string literal, quotes included. Besides what JSON requires it escapes <, >, & and
// U+2028/U+2029, so the text stays inert if someone embeds it in a page or a script.
std::string JsonString(std::string_view text);

// The full page: one heading and one table (caption, column headers) per difficulty. Names
// are escaped; e-mail addresses are not part of a RankedScore and so cannot appear. It shows
// the scores a replay verified, each with a player for its game, and with `all` every score,
// each marked verified or not; a link leads to the other view.
std::string RenderLeaderboardHtml(const Boards& boards, bool all = false);

// The same data, every score: {"difficulties":[{"level":1,"name":"Easy","scores":[{"rank":1,
// "name":...,"score":...,"date":"2024-05-01T12:34:56Z","verified":true,"replay":7}, ...]},
// ...]} ("replay" only when verified).
std::string RenderLeaderboardJson(const Boards& boards);

}  // namespace scores

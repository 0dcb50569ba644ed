// score_url.h -- the score server's address and the URL of one submission, every query value
// percent-encoded so that a name with "&", "=", spaces or accents arrives as it was stored.
#pragma once

#include <string>

namespace qv {

// The four texts of one submission, as read from the settings store.
struct ScoreReport {
  std::string name;   // the player's name
  std::string level;  // the difficulty the high score was reached at
  std::string score;  // the high score, decimal
  std::string email;  // the player's e-mail address
};

// The default score server; the environment variable QUORVANE_SCORE_HOST, when set and not
// empty, names another ("host" or "host:port").
inline constexpr const char* kDefaultScoreHost = "scores.quorvane.example";
std::string ScoreServerHost();

// RFC 3986: letters, digits and "-._~" as they are, every other byte (UTF-8 bytes one by one)
// as "%XX" in upper-case hex.
std::string PercentEncode(const std::string& value);

// "http://<host>/scores/quorvane.php?password=...&level=...&score=...&name=...&email=...".
std::string ScoreUrl(const std::string& host, const ScoreReport& report);
// "http://<host>/scores/replays": where the replay of the game that made the score follows it.
std::string ReplayUrl(const std::string& host);

}  // namespace qv

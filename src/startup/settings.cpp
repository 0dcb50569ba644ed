// settings.cpp -- reading the stored values at start-up and saving the high score.
#include "startup/settings.h"

#include <cstdlib>

#include "common/sound.h"
#include "startup/program.h"
#include "startup/scramble.h"

namespace qv {

bool ParseNumber(const std::string& text, double* value) {
  size_t b = text.find_first_not_of(" \t");
  size_t e = text.find_last_not_of(" \t");
  if (b == std::string::npos) return false;
  std::string t = text.substr(b, e - b + 1);
  // Only plain decimal numbers: no hex, exponents, "inf" or "nan".
  size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  bool digits = false, point = false;
  for (; i < t.size(); ++i) {
    if (t[i] >= '0' && t[i] <= '9') {
      digits = true;
    } else if (t[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digits) return false;
  *value = std::strtod(t.c_str(), nullptr);
  return true;
}

int32_t LeadingNumber(const std::string& text) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
  int64_t n = 0;
  bool any = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    any = true;
    n = n * 10 + (text[i] - '0');
    if (n > 2147483648LL) return 0;  // cannot be a score the game stored
  }
  if (!any) return 0;
  n = negative ? -n : n;
  if (n > INT32_MAX) return 0;
  return static_cast<int32_t>(n);
}

void ReadStartupSettings(Program& pg) {
  using namespace settings;
  double sent = 0;
  if (!ParseNumber(pg.platform.ReadSetting(kScoreSentApp, kScoreSentSection, kScoreSentKey, "0"),
                   &sent)) {
    sent = 0;
  }
  pg.game.ScoreSent = sent != 0;
  std::string stored =
      pg.platform.ReadSetting(kHighScoreApp, kHighScoreSection, kHighScoreKey, "0");
  pg.game.HighScore = LeadingNumber(Unscramble(stored));
}

void SaveSettings(Program& pg) {
  StopSound(pg, pg.bank.Music[0]);
  StopSound(pg, pg.bank.Music[1]);
  StopSound(pg, pg.bank.LaunchSound);
  if (!pg.game.NewHighScore) return;
  pg.game.HighScore = pg.game.Score;
  // Each value draws its own key digit.
  using namespace settings;
  pg.platform.StoreSetting(kHighScoreApp, kHighScoreSection, kHighScoreKey,
                           Scramble(pg, std::to_string(pg.game.Score)));
  pg.platform.StoreSetting(kDifficultyApp, kDifficultySection, kDifficultyKey,
                           Scramble(pg, std::to_string(pg.game.Difficulty)));
}

}  // namespace qv

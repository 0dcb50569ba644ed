// settings.cpp -- reading the stored values at start-up and saving the high score.
#include "store/settings.h"

#include <cstdlib>

#include "store/ini_store.h"
#include "core/program.h"
#include "store/scramble.h"

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

std::string ReadSetting(Program& pg, const std::string& app, const std::string& section,
                        const std::string& key, const std::string& default_value) {
  return pg.settings.Read(app, section, key).value_or(default_value);
}

void StoreSetting(Program& pg, const std::string& app, const std::string& section,
                  const std::string& key, const std::string& value) {
  pg.settings.Store(app, section, key, value);  // throws PlatformError naming the entry
  if (pg.log != nullptr) pg.log->Add("store", 0, app + "/" + section + "/" + key, value);
}

void ReadStartupSettings(Program& pg) {
  using namespace settings;
  double sent = 0;
  if (!ParseNumber(ReadSetting(pg, kScoreSentApp, kScoreSentSection, kScoreSentKey, "0"),
                   &sent)) {
    sent = 0;
  }
  pg.game.ScoreSent = sent != 0;
  std::string stored =
      ReadSetting(pg, kHighScoreApp, kHighScoreSection, kHighScoreKey, "0");
  pg.game.HighScore = LeadingNumber(Unscramble(stored));
}

void SaveSettings(Program& pg) {
  // Each only if it is loaded.
  for (BufferId b : {pg.bank.Music[0], pg.bank.Music[1], pg.bank.LaunchSound}) {
    if (b != 0) pg.sound.Stop(b);
  }
  if (!pg.game.NewHighScore) return;
  pg.game.HighScore = pg.game.Score;
  // Each value draws its own key digit.
  using namespace settings;
  StoreSetting(pg, kHighScoreApp, kHighScoreSection, kHighScoreKey,
                           Scramble(pg, std::to_string(pg.game.Score)));
  StoreSetting(pg, kDifficultyApp, kDifficultySection, kDifficultyKey,
                           Scramble(pg, std::to_string(pg.game.Difficulty)));
}

}  // namespace qv

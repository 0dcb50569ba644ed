// settings.cpp -- the settings store as the game uses it, and start-up's reads.
#include "store/settings.h"

#include <cstdlib>
#include <optional>

#include "store/high_score.h"
#include "store/ini_store.h"

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

std::string ReadSetting(Settings& settings, const std::string& app, const std::string& section,
                        const std::string& key, const std::string& default_value) {
  return settings.file.Read(app, section, key).value_or(default_value);
}

void StoreSettings(Settings& settings, const std::vector<IniEntry>& entries) {
  if (!settings.file.Store(entries)) return;  // throws PlatformError naming the entries
  if (settings.log == nullptr) return;
  for (const IniEntry& e : entries) {
    settings.log->Add("store", 0, e.app + "/" + e.section + "/" + e.key, e.value);
  }
}

void StoreSetting(Settings& settings, const std::string& app, const std::string& section,
                  const std::string& key, const std::string& value) {
  StoreSettings(settings, {{app, section, key, value}});
}

StoredMusicLevel ReadStartupSettings(Settings& settings, System& system) {
  // Found now rather than at the first store, which would end the game in progress.
  if (std::optional<std::string> problem = settings.file.Open()) {
    system.MessageBox(*problem +
                      " The game plays on, but stores nothing this time (no high score, no "
                      "bonus round) and leaves the file as it is.");
  }
  settings.ScoreSent = ReadScoreSent(settings);
  settings.HighScore = ReadHighScore(settings);
  return ReadMusicSettings(settings);
}

}  // namespace qv

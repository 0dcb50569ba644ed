// readme_test.cpp -- the README's key tables and the game agree: every key a table names is one
// the game reads, by the names the simulator's scripts use, and every key the game reads is in a
// table.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/key_names.h"

namespace qv {
namespace {

// The parts of s between delim, each trimmed of spaces.
std::vector<std::string> Split(const std::string& s, char delim) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  for (std::string part; std::getline(in, part, delim);) {
    const size_t b = part.find_first_not_of(' '), e = part.find_last_not_of(' ');
    parts.push_back(b == std::string::npos ? "" : part.substr(b, e - b + 1));
  }
  return parts;
}

// The key names in a cell: "Up, Down", "Space and C together", "Page Up, Page Down".
std::vector<std::string> KeysIn(std::string cell) {
  if (const size_t t = cell.find(" together"); t != std::string::npos) cell.erase(t);
  for (size_t a; (a = cell.find(" and ")) != std::string::npos;) cell.replace(a, 5, ",");
  std::vector<std::string> names = Split(cell, ',');
  for (std::string& name : names) std::erase(name, ' ');  // "Page Up" is PageUp
  std::erase(names, "");
  return names;
}

TEST(Readme, EveryKeyInItsTablesIsOneTheGameReadsAndTheOtherWayRound) {
  std::ifstream readme(std::string(QV_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(readme) << "no README.md";
  std::set<int> named;
  int key_column = -1, tables = 0;
  std::string line;
  while (std::getline(readme, line)) {
    if (line.empty() || line[0] != '|') {
      key_column = -1;
      continue;
    }
    const std::vector<std::string> cells = Split(line.substr(1), '|');
    if (key_column == -1) {  // a table's head: the column headed "Key"; -2 when none is
      const auto key = std::find(cells.begin(), cells.end(), "Key");
      key_column = key == cells.end() ? -2 : static_cast<int>(key - cells.begin());
      tables += key_column >= 0;
      continue;
    }
    if (key_column == -2 || cells.at(0).starts_with("---")) continue;
    for (const std::string& name : KeysIn(cells.at(static_cast<size_t>(key_column)))) {
      // Spelt as the game's own table spells it: neither a bare scan code nor another case.
      const std::optional<int> code = KeyFromName(name);
      EXPECT_TRUE(code && KeyName(*code) == name)
          << "the README names a key the game does not read: " << name << " in: " << line;
      if (code) named.insert(*code);
    }
  }
  EXPECT_GE(tables, 6);
  for (int code = 0; code < 256; ++code) {
    if (KeyName(code) == std::to_string(code)) continue;
    EXPECT_TRUE(named.count(code)) << "the README's tables leave out " << KeyName(code);
  }
}

}  // namespace
}  // namespace qv

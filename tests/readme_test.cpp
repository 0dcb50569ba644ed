// readme_test.cpp -- the README's key tables and the game agree: every key a table names is one
// the game reads, by the names the simulator's scripts use, and every key the game reads is in a
// table.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/key_names.h"

namespace qv {
namespace {

// The cells of a table row "| a | b |", trimmed.
std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::stringstream in(row.substr(1));
  std::string cell;
  while (std::getline(in, cell, '|')) {
    const size_t b = cell.find_first_not_of(' '), e = cell.find_last_not_of(' ');
    cells.push_back(b == std::string::npos ? "" : cell.substr(b, e - b + 1));
  }
  return cells;
}

// The key names in a cell: "Up, Down", "Space and C together", "Page Up, Page Down".
std::vector<std::string> KeysIn(std::string cell) {
  if (const size_t t = cell.find(" together"); t != std::string::npos) cell.erase(t);
  for (size_t a; (a = cell.find(" and ")) != std::string::npos;) cell.replace(a, 5, ",");
  std::vector<std::string> names;
  std::stringstream in(cell);
  std::string name;
  while (std::getline(in, name, ',')) {
    std::erase(name, ' ');  // "Page Up" is PageUp, "Left Ctrl" LeftCtrl
    if (!name.empty()) names.push_back(name);
  }
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
    const std::vector<std::string> cells = Cells(line);
    if (key_column < 0) {  // a table's head: the column headed "Key", if any
      for (size_t c = 0; c < cells.size(); ++c) {
        if (cells[c] == "Key") key_column = static_cast<int>(c);
      }
      if (key_column < 0) key_column = -2;  // a table without keys
      if (key_column >= 0) ++tables;
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

// replay_archive.cpp -- keeping replays in the player's data folder.
#include "store/replay_archive.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "store/ini_store.h"

namespace qv {

namespace {

namespace fs = std::filesystem;

constexpr const char* kBest = "best.qvr";

// The number of a kept game's file, "game-000042.qvr": 42; 0 for any other name.
unsigned long long GameNumber(const std::string& name) {
  if (name.size() != 15 || name.rfind("game-", 0) != 0 || name.substr(11) != ".qvr") return 0;
  const std::string digits = name.substr(5, 6);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoull(digits);
}

}  // namespace

ReplayArchive::ReplayArchive(std::string folder, size_t keep_last)
    : folder_(std::move(folder)), keep_last_(keep_last) {}

void ReplayArchive::Keep(const std::string& bytes, bool best) {
  try {
    std::vector<std::pair<unsigned long long, fs::path>> games;
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(folder_, none)) {
      if (const auto n = GameNumber(entry.path().filename().string())) {
        games.emplace_back(n, entry.path());
      }
    }
    std::sort(games.begin(), games.end());
    const unsigned long long next = games.empty() ? 1 : games.back().first + 1;
    char name[32];
    std::snprintf(name, sizeof name, "game-%06llu.qvr", next % 1000000);
    ReplaceFile((fs::path(folder_) / name).string(), bytes);
    if (best) ReplaceFile((fs::path(folder_) / kBest).string(), bytes);
    // The oldest go once the new one is safely in place.
    for (size_t i = 0; i + keep_last_ < games.size() + 1; ++i) fs::remove(games[i].second, none);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "QuorVane: the game's replay was not kept: %s\n", e.what());
  }
}

std::optional<std::string> ReplayArchive::Best() const {
  std::ifstream in(fs::path(folder_) / kBest, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string DefaultReplayFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/quorvane/replays";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : ".") + "/.local/share/quorvane/replays";
}

}  // namespace qv

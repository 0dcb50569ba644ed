// paths.cpp -- locating the executable and its sounds folder.
#include "platform/paths.h"

#include <filesystem>
#include <system_error>

namespace qv {

std::string ExecutableDir() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return ".";
  return exe.parent_path().string();
}

std::string FindSoundsDir() {
  std::filesystem::path dir = ExecutableDir();
  for (int up = 0; up < 3; ++up) {
    std::error_code ec;
    if (std::filesystem::exists(dir / "sounds" / "intro.wav", ec)) return (dir / "sounds").string();
    dir = dir.parent_path();
  }
  return (std::filesystem::path(ExecutableDir()) / "sounds").string();
}

}  // namespace qv

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
  namespace fs = std::filesystem;
  const fs::path exe_dir = ExecutableDir();
  // A build folder holds a link named "sounds" to the project's sounds, so the build's own
  // program finds them beside itself too.
  const fs::path candidates[] = {
      exe_dir / "sounds",
      exe_dir.parent_path() / "share" / "quorvane" / "sounds",
  };
  for (const fs::path& dir : candidates) {
    std::error_code ec;
    if (fs::exists(dir / "intro.wav", ec)) return dir.string();
  }
  return (exe_dir / "sounds").string();
}

}  // namespace qv

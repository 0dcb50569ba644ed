// play_files.cpp -- reading the browser version's folder and finding its files.
#include "play_files.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace scores {
namespace {

// By the files' endings; what the page loads is all here. A browser compiles WebAssembly as it
// arrives only when it comes as application/wasm.
std::string ContentType(const std::filesystem::path& file) {
  static const std::map<std::string, std::string, std::less<>> kTypes = {
      {".html", "text/html; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".wasm", "application/wasm"},
      {".json", "application/json"},
      {".opus", "audio/ogg"},
      {".css", "text/css; charset=utf-8"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".ico", "image/x-icon"},
      {".txt", "text/plain; charset=utf-8"}};
  auto it = kTypes.find(file.extension().string());
  return it == kTypes.end() ? "application/octet-stream" : it->second;
}

// FNV-1a, 64 bits: tells one version of a file from the next.
std::string Etag(const std::string& content) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : content) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[24];
  std::snprintf(text, sizeof text, "\"%016llx\"", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace

PlayFiles::PlayFiles(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path root = fs::canonical(folder, error);
  if (error || !fs::exists(root / "index.html", error)) {
    why_ = "no browser version in " + folder;
    return;
  }
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    // A link that leads out of the folder is not served.
    const fs::path file = fs::canonical(it->path(), error);
    if (error) continue;
    const std::string relative = fs::relative(file, root, error).generic_string();
    if (error || relative.empty() || relative.starts_with("..")) continue;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (!in) continue;
    std::string body = std::move(content).str();
    bytes_ += body.size();
    std::string etag = Etag(body);
    files_[relative] = {std::make_shared<const std::string>(std::move(body)), ContentType(file),
                        std::move(etag)};
  }
  if (error) {
    files_.clear();
    why_ = "cannot read " + folder + ": " + error.message();
  }
}

const PlayFile* PlayFiles::Find(std::string_view path) const {
  if (path.empty() || path.back() == '/') {
    // A folder's index: only the top one is the page.
    if (!path.empty()) return nullptr;
    path = "index.html";
  }
  if (path.find('%') != path.npos || path.find('\\') != path.npos) return nullptr;
  for (std::size_t at = 0; at <= path.size();) {
    std::size_t slash = path.find('/', at);
    if (slash == path.npos) slash = path.size();
    const std::string_view part = path.substr(at, slash - at);
    if (part.empty() || part == "." || part == "..") return nullptr;
    at = slash + 1;
  }
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : &it->second;
}

}  // namespace scores

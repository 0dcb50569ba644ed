// ini_store.cpp -- reading and atomically rewriting the settings file.
#include "store/ini_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/system.h"

namespace qv {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool SameName(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string StripCr(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Players edit the file by hand: blanks around names and brackets are not part of them.
std::string TrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// "[APP/SECTION]" gives the text between the brackets; anything else gives nothing.
std::optional<std::string> SectionOf(const std::string& raw) {
  const std::string line = TrimBlanks(raw);
  if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
    return TrimBlanks(line.substr(1, line.size() - 2));
  }
  return std::nullopt;
}

// "KEY=VALUE": the key is what stands before the first '=' (blanks around it ignored) and
// must not be empty; the value is the rest of the line exactly as written.
bool IsEntry(const std::string& line, std::string* key, std::string* value) {
  const std::string start = TrimBlanks(line);
  if (start.empty() || start[0] == ';' || start[0] == '#' || start[0] == '[') return false;
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  *key = TrimBlanks(line.substr(0, eq));
  if (key->empty()) return false;
  *value = line.substr(eq + 1);
  return true;
}

}  // namespace

IniStore::IniStore(std::string path) : path_(std::move(path)) {}

void IniStore::Load() {
  if (path_.empty()) return;  // in memory: lines_ is the store
  lines_.clear();
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::string line;
  while (std::getline(in, line)) {
    // A file with NUL bytes or other binary damage still reads line by line; lines that fit
    // neither form are ignored by Read and kept by Store.
    lines_.push_back(StripCr(line));
  }
  // A byte-order mark left by an editor is not part of the first line.
  if (!lines_.empty() && lines_[0].rfind("\xEF\xBB\xBF", 0) == 0) lines_[0].erase(0, 3);
}

std::optional<std::string> IniStore::Read(const std::string& app, const std::string& section,
                                          const std::string& key) {
  Load();
  const std::string wanted = app + "/" + section;
  bool in_section = false;
  for (const std::string& line : lines_) {
    if (auto s = SectionOf(line)) {
      in_section = SameName(*s, wanted);
      continue;
    }
    std::string k, v;
    // The first matching entry wins, as Store updates the first one.
    if (in_section && IsEntry(line, &k, &v) && SameName(k, key)) return v;
  }
  return std::nullopt;
}

void IniStore::Store(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) {
  try {
    Replace(app, section, key, value);
  } catch (const std::runtime_error& e) {
    throw PlatformError("Cannot store the setting " + app + "/" + section + "/" + key + ": " +
                        e.what());
  }
}

void IniStore::Replace(const std::string& app, const std::string& section, const std::string& key,
                       const std::string& value) {
  if (value.find_first_of("\r\n") != std::string::npos) {
    throw std::runtime_error("settings value for " + key + " holds a line break");
  }
  Load();
  const std::string wanted = app + "/" + section;
  bool in_section = false;
  std::optional<size_t> section_end;  // index after the last line of the matching section
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (auto s = SectionOf(lines_[i])) {
      in_section = SameName(*s, wanted);
      if (in_section) section_end = i + 1;
      continue;
    }
    std::string k, v;
    if (in_section && IsEntry(lines_[i], &k, &v) && SameName(k, key)) {
      lines_[i] = k + "=" + value;  // the existing key keeps its own spelling
      Save();
      return;
    }
    if (in_section && !lines_[i].empty()) section_end = i + 1;
  }
  const std::string entry = key + "=" + value;
  if (section_end) {
    lines_.insert(lines_.begin() + static_cast<long>(*section_end), entry);
  } else {
    if (!lines_.empty() && !lines_.back().empty()) lines_.push_back("");
    lines_.push_back("[" + wanted + "]");
    lines_.push_back(entry);
  }
  Save();
}

void IniStore::Save() const {
  if (path_.empty()) return;
  namespace fs = std::filesystem;
  fs::path target(path_);
  std::error_code ec;
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
  std::string tmp = path_ + ".tmp." + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot write " + tmp + ": " + std::strerror(errno));
  std::string text;
  for (const std::string& line : lines_) text += line + "\n";
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      throw std::runtime_error("cannot write " + tmp + ": " + std::strerror(err));
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot flush " + tmp);
  }
  if (::rename(tmp.c_str(), path_.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot replace " + path_ + ": " + std::strerror(err));
  }
}

std::string DefaultSettingsPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : ".") + "/.config";
  }
  return base + "/quorvane/settings.ini";
}

}  // namespace qv

// ini_store.cpp -- reading and atomically rewriting the settings file.
#include "store/ini_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/system.h"

namespace qv {

namespace {

const std::string kByteOrderMark = "\xEF\xBB\xBF";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
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

// Refuses what Set would write but Get could not find again as given: a line break anywhere, a
// key that is empty, blank-edged, holds '=' or starts like a comment or a header, a section
// name with blanks at its edges.
void CheckStorable(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) {
  const std::string wanted = app + "/" + section;
  auto fail = [](const std::string& why) { throw std::invalid_argument(why); };
  if ((wanted + key + value).find_first_of("\r\n") != std::string::npos) {
    fail("the name or value holds a line break");
  }
  if (TrimBlanks(wanted) != wanted) fail("the section name starts or ends with a blank");
  if (key.empty() || TrimBlanks(key) != key || key.find('=') != std::string::npos ||
      key[0] == ';' || key[0] == '#' || key[0] == '[') {
    fail("the key cannot be written as a key");
  }
}

std::string Reason(int err) { return std::strerror(err); }

// The whole file, or the errno of the failure (ENOENT when there is no file).
int ReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  char buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      bytes->append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      int err = errno;
      ::close(fd);
      bytes->clear();
      return err;
    }
  }
  ::close(fd);
  return 0;
}

// The file a path finally names, symbolic links followed (a player who keeps the file among
// other dotfiles links it): the store must replace the target, not the link. The target need
// not exist yet.
std::string FollowLinks(const std::string& path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::string target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
    if (n < 0) {
      const int err = errno;
      throw std::runtime_error("cannot follow the link " + at + ": " + Reason(err));
    }
    target.resize(static_cast<size_t>(n));
    if (target.empty() || target[0] != '/') {
      target = (std::filesystem::path(at).parent_path() / target).string();
    }
    at = target;
  }
  throw std::runtime_error("cannot follow the link " + path + ": " + Reason(ELOOP));
}

// Earlier versions of the game named the temporary file after the storing process
// ("settings.ini.tmp.1234") and left one behind at every killed store, each a copy of the
// player's name and address. Those of processes no longer running are removed.
void RemoveOrphanedTemporaries(const std::string& folder, const std::string& target) {
  const std::string prefix = std::filesystem::path(target).filename().string() + ".tmp.";
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 9 ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.find_first_not_of("0123456789", prefix.size()) != std::string::npos) {
      continue;
    }
    const auto pid = static_cast<pid_t>(std::stol(name.substr(prefix.size())));
    if (pid > 0 && (pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH))) {
      ::unlink((folder + "/" + name).c_str());
    }
  }
  ::closedir(dir);
}

// The temporary file a store writes before renaming it over the settings file. Its name is
// fixed per settings file ("settings.ini.tmp"), so a store killed part way leaves at most one,
// which the next store reuses. A lock on it makes concurrent stores (two copies of the game)
// take turns over the whole read, change and rewrite, so neither loses the other's entry.
class TempFile {
 public:
  explicit TempFile(const std::string& target) : target_(target), path_(target + ".tmp") {
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    folder_ = folder.empty() ? "." : folder.string();
    std::error_code ignored;  // a folder that cannot be made fails the open below, with a reason
    std::filesystem::create_directories(folder_, ignored);
    for (;;) {
      fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (fd_ < 0) Fail("cannot write", path_);
      // A file system that cannot lock at all still takes the store, only without the turns.
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
      // The store that held the lock before may have renamed this very file into place: then
      // start again on a fresh one.
      struct stat held, named;
      if (::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        break;
      }
      ::close(fd_);
      fd_ = -1;
    }
    RemoveOrphanedTemporaries(folder_, target_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  // A store that failed removes its temporary file; the settings file is untouched.
  ~TempFile() {
    if (fd_ < 0) return;
    if (!renamed_) ::unlink(path_.c_str());
    ::close(fd_);
  }

  // Writes bytes with the given permissions, flushes them, renames the file over the target
  // and flushes the folder, so the new file survives a power cut.
  void Replace(const std::string& bytes, mode_t mode) {
    if (::ftruncate(fd_, 0) != 0) Fail("cannot write", path_);
    if (::fchmod(fd_, mode) != 0) Fail("cannot set the permissions of", path_);
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = EIO;
      if (n <= 0) Fail("cannot write", path_);
      done += static_cast<size_t>(n);
    }
    if (::fsync(fd_) != 0) Fail("cannot flush", path_);
    if (::rename(path_.c_str(), target_.c_str()) != 0) Fail("cannot replace", target_);
    renamed_ = true;
    int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) Fail("cannot flush the folder", folder_);
    int synced = ::fsync(dir);
    int err = errno;
    ::close(dir);
    // Some file systems cannot flush a folder at all (EINVAL); nothing more can be done there.
    if (synced != 0 && err != EINVAL) {
      errno = err;
      Fail("cannot flush the folder", folder_);
    }
  }

 private:
  // "what path: reason", the reason taken from errno before anything can change it.
  [[noreturn]] static void Fail(const char* what, const std::string& path) {
    const int err = errno;
    throw std::runtime_error(std::string(what) + " " + path + ": " + Reason(err));
  }

  std::string target_;
  std::string path_;
  std::string folder_;
  int fd_ = -1;
  bool renamed_ = false;
};

}  // namespace

IniText::IniText(const std::string& bytes) {
  size_t pos = 0;
  while (bytes.compare(pos, kByteOrderMark.size(), kByteOrderMark) == 0) {
    pos += kByteOrderMark.size();
  }
  marks_ = bytes.substr(0, pos);
  while (pos < bytes.size()) {
    size_t stop = bytes.find_first_of("\r\n", pos);
    if (stop == std::string::npos) {
      lines_.push_back({bytes.substr(pos), ""});
      break;
    }
    // A line ends at an LF with any CRs before it (a file converted to CRLF twice still means
    // what it meant), or at CRs with no LF after them (an old Mac editor).
    size_t next = bytes.find_first_not_of('\r', stop);
    if (next == std::string::npos) {
      next = bytes.size();
    } else if (bytes[next] == '\n') {
      ++next;
    }
    lines_.push_back({bytes.substr(pos, stop - pos), bytes.substr(stop, next - stop)});
    pos = next;
  }
}

std::optional<std::string> IniText::Get(const std::string& app, const std::string& section,
                                        const std::string& key) const {
  const std::string wanted = app + "/" + section;
  bool in_section = false;
  for (const Line& line : lines_) {
    if (auto s = SectionOf(line.text)) {
      in_section = SameName(*s, wanted);
      continue;
    }
    std::string k, v;
    // The first matching entry wins, as Set updates the first one.
    if (in_section && IsEntry(line.text, &k, &v) && SameName(k, key)) return v;
  }
  return std::nullopt;
}

void IniText::Set(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& value) {
  CheckStorable(app, section, key, value);
  const std::string wanted = app + "/" + section;
  bool in_section = false;
  std::optional<size_t> section_end;  // index after the last line of the matching section
  for (size_t i = 0; i < lines_.size(); ++i) {
    const std::string& text = lines_[i].text;
    if (auto s = SectionOf(text)) {
      in_section = SameName(*s, wanted);
      if (in_section) section_end = i + 1;
      continue;
    }
    std::string k, v;
    if (in_section && IsEntry(text, &k, &v) && SameName(k, key)) {
      // Everything up to the '=' stays as written: the key's own spelling and blanks.
      lines_[i].text = text.substr(0, text.find('=') + 1) + value;
      return;
    }
    if (in_section && !text.empty()) section_end = i + 1;
  }
  const std::string end = FileLineEnd();
  auto insert = [&](size_t at, std::string text) {
    if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = end;
    lines_.insert(lines_.begin() + static_cast<long>(at), Line{std::move(text), end});
  };
  if (section_end) {
    insert(*section_end, key + "=" + value);
  } else {
    if (!lines_.empty() && !lines_.back().text.empty()) insert(lines_.size(), "");
    insert(lines_.size(), "[" + wanted + "]");
    insert(lines_.size(), key + "=" + value);
  }
}

std::string IniText::Bytes() const {
  std::string bytes = marks_;
  for (const Line& line : lines_) bytes += line.text + line.end;
  return bytes;
}

// New lines end as the file's first line does, so a CRLF file stays CRLF; LF in a new file.
std::string IniText::FileLineEnd() const {
  for (const Line& line : lines_) {
    if (!line.end.empty()) return line.end;
  }
  return "\n";
}

IniStore::IniStore(std::string path) : path_(std::move(path)) {}

std::optional<std::string> IniStore::Read(const std::string& app, const std::string& section,
                                          const std::string& key) {
  if (!path_.empty()) {
    std::string bytes;
    // A missing or unreadable file reads as no entries; Store refuses to overwrite the latter.
    ReadWholeFile(path_, &bytes);
    text_ = IniText(bytes);
  }
  return text_.Get(app, section, key);
}

void IniStore::Store(const std::string& app, const std::string& section, const std::string& key,
                     const std::string& value) {
  auto failed = [&](const char* why) {
    return "Cannot store the setting " + app + "/" + section + "/" + key + ": " + why;
  };
  try {
    CheckStorable(app, section, key, value);
    if (path_.empty()) {  // in memory: text_ is the store
      text_.Set(app, section, key, value);
      return;
    }
    const std::string target = FollowLinks(path_);
    TempFile temp(target);
    // Read only once the lock is held, so the entries of a concurrent store are kept.
    std::string bytes;
    if (int err = ReadWholeFile(target, &bytes); err != 0 && err != ENOENT) {
      // Rewriting a file we cannot read would drop the player's name, address and comments.
      throw std::runtime_error("cannot read " + target + ": " + Reason(err));
    }
    struct stat st;
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    IniText text(bytes);
    text.Set(app, section, key, value);
    temp.Replace(text.Bytes(), mode);
    text_ = std::move(text);
  } catch (const std::invalid_argument& e) {
    throw PlatformError(failed(e.what()));
  } catch (const std::runtime_error& e) {
    throw PlatformError(failed(e.what()));
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

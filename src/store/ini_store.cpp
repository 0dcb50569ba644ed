// ini_store.cpp -- reading and atomically rewriting the settings file.
#include "store/ini_store.h"

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
#include <optional>
#include <stdexcept>
#include <string_view>

#include "platform/system.h"

namespace qv {

namespace {

const std::string kByteOrderMark = "\xEF\xBB\xBF";

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

// Players edit the file by hand: blanks around names and brackets are not part of them.
std::string_view TrimBlanks(std::string_view s) {
  const size_t b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// "[APP/SECTION]" gives the text between the brackets; anything else gives nothing.
std::optional<std::string_view> SectionOf(std::string_view raw) {
  const std::string_view line = TrimBlanks(raw);
  if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
    return TrimBlanks(line.substr(1, line.size() - 2));
  }
  return std::nullopt;
}

// "KEY=VALUE": the key is what stands before the first '=' (blanks around it ignored) and
// must not be empty; the value is the rest of the line exactly as written.
bool IsEntry(std::string_view line, std::string_view* key, std::string_view* value) {
  const std::string_view start = TrimBlanks(line);
  if (start.empty() || start[0] == ';' || start[0] == '#' || start[0] == '[') return false;
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = TrimBlanks(line.substr(0, eq));
  if (key->empty()) return false;
  *value = line.substr(eq + 1);
  return true;
}

// One line of the file: its text is bytes[begin, text_end), its line end runs on to `end`.
struct Line {
  size_t begin, text_end, end;
  bool Terminated() const { return end > text_end; }
};

// The lines of the file in order, after the byte-order marks that open it. A line ends at an LF
// with any CRs before it (a file converted to CRLF twice still means what it meant), or at CRs
// with no LF after them (an old Mac editor).
class Lines {
 public:
  explicit Lines(const std::string& bytes) : b_(bytes) {
    while (b_.compare(pos_, kByteOrderMark.size(), kByteOrderMark) == 0) {
      pos_ += kByteOrderMark.size();
    }
  }
  bool Next(Line* line) {
    const size_t n = b_.size();
    if (pos_ >= n) return false;
    size_t stop = pos_;
    while (stop < n && b_[stop] != '\r' && b_[stop] != '\n') ++stop;
    size_t next = stop;
    while (next < n && b_[next] == '\r') ++next;
    if (next < n && b_[next] == '\n') ++next;
    *line = {pos_, stop, next};
    pos_ = next;
    return true;
  }
  std::string_view Text(const Line& line) const {
    return std::string_view(b_).substr(line.begin, line.text_end - line.begin);
  }

 private:
  const std::string& b_;
  size_t pos_ = 0;
};

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

// errno, or kNotAFile for something at the path that is no file (a folder is EISDIR).
constexpr int kNotAFile = -1;

std::string Reason(int err) { return err == kNotAFile ? "not a file" : std::strerror(err); }

long long Nanoseconds(const timespec& t) {
  return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

FileStamp StampOf(const struct stat& st) {
  return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino),
          static_cast<long long>(st.st_size), Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// The whole file and the stamp of what was read, or the errno of the failure (ENOENT when there
// is no file). Opened without waiting, so a pipe or a device put in its place cannot hang the
// game; the buffer is sized once from the file's size.
int ReadWholeFile(const std::string& path, std::string* bytes, FileStamp* stamp) {
  bytes->clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st;
  int err = 0;
  if (::fstat(fd, &st) != 0) {
    err = errno;
  } else if (S_ISDIR(st.st_mode)) {
    err = EISDIR;
  } else if (!S_ISREG(st.st_mode)) {
    err = kNotAFile;
  } else {
    *stamp = StampOf(st);
    // Room for the file and a few new entries, so that neither the read nor a store's changes
    // move the bytes again.
    bytes->reserve(static_cast<size_t>(st.st_size) + 1024);
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        bytes->append(buffer, static_cast<size_t>(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        err = errno;
        break;
      }
    }
  }
  ::close(fd);
  if (err != 0) bytes->clear();
  return err;
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

// Why a store to this settings file would fail for want of permission, before any store is
// tried: its folder (or the first of its parents that exists, which a store would create the
// rest in) cannot be written, or the temporary file a store writes is there and cannot be. A
// read-only disk counts too. Nothing when a store can go ahead.
std::optional<std::string> WhyNotWritable(const std::string& path) {
  std::string target;
  try {
    target = FollowLinks(path);
  } catch (const std::runtime_error& e) {
    return std::string(e.what());
  }
  auto parent = [](const std::filesystem::path& p) {
    std::filesystem::path up = p.parent_path();
    return up.empty() ? std::filesystem::path(".") : up;
  };
  std::filesystem::path folder = parent(target);
  while (::access(folder.c_str(), F_OK) != 0 && errno == ENOENT && folder != parent(folder)) {
    folder = parent(folder);
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return "cannot be written (its folder " + folder.string() + ": " + Reason(errno) + ")";
  }
  const std::string temp = target + ".tmp";
  if (::access(temp.c_str(), F_OK) == 0 && ::access(temp.c_str(), W_OK) != 0) {
    return "cannot be written (" + temp + ": " + Reason(errno) + ")";
  }
  return std::nullopt;
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
  }
  // The written file, as it stands once renamed into place.
  FileStamp Stamp() const {
    struct stat st {};
    ::fstat(fd_, &st);
    return StampOf(st);
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

std::optional<std::string> IniText::Get(const std::string& app, const std::string& section,
                                        const std::string& key) const {
  const std::string wanted = app + "/" + section;
  bool in_section = false;
  Lines lines(bytes_);
  for (Line line{}; lines.Next(&line);) {
    const std::string_view text = lines.Text(line);
    if (auto s = SectionOf(text)) {
      in_section = SameName(*s, wanted);
      continue;
    }
    std::string_view k, v;
    // The first matching entry wins, as Set updates the first one.
    if (in_section && IsEntry(text, &k, &v) && SameName(k, key)) return std::string(v);
  }
  return std::nullopt;
}

void IniText::Set(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& value) {
  CheckStorable(app, section, key, value);
  Put(app, section, key, value);
}

void IniText::Put(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& value) {
  const std::string wanted = app + "/" + section;
  bool in_section = false;
  std::optional<Line> section_end;  // the last line of the matching section that is not empty
  std::optional<Line> last;
  Lines lines(bytes_);
  for (Line line{}; lines.Next(&line);) {
    last = line;
    const std::string_view text = lines.Text(line);
    if (auto s = SectionOf(text)) {
      in_section = SameName(*s, wanted);
      if (in_section) section_end = line;
      continue;
    }
    std::string_view k, v;
    if (in_section && IsEntry(text, &k, &v) && SameName(k, key)) {
      // Everything up to the '=' stays as written: the key's own spelling and blanks.
      const size_t value_at = line.begin + text.find('=') + 1;
      bytes_.replace(value_at, line.text_end - value_at, value);
      return;
    }
    if (in_section && !text.empty()) section_end = line;
  }
  const std::string end = FileLineEnd();
  // A last line without a line end gains one only to have a line put after it.
  auto after = [&](const Line& line) { return line.Terminated() ? std::string() : end; };
  if (section_end) {
    bytes_.insert(section_end->end, after(*section_end) + key + "=" + value + end);
    return;
  }
  std::string added;
  if (last && last->text_end > last->begin) added = after(*last) + end;  // a blank line first
  bytes_ += added + "[" + wanted + "]" + end + key + "=" + value + end;
}

// New lines end as the file's first line does, so a CRLF file stays CRLF; LF in a new file.
std::string IniText::FileLineEnd() const {
  Lines lines(bytes_);
  for (Line line{}; lines.Next(&line);) {
    if (line.Terminated()) return bytes_.substr(line.text_end, line.end - line.text_end);
  }
  return "\n";
}

IniStore::IniStore(std::string path) : path_(std::move(path)) {}

std::optional<std::string> IniStore::Open(size_t size_limit) {
  if (path_.empty()) return std::nullopt;
  auto refuse = [&](const std::string& why) {
    off_ = true;
    text_.Clear();
    seen_.reset();
    return "The settings file " + path_ + " " + why + ".";
  };
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) {
    const int err = errno;
    if (err == ENOENT) return Writable();  // the first store makes it
    return refuse("cannot be read (" + Reason(err) + ")");
  }
  if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > size_limit) {
    return refuse("holds " + std::to_string(st.st_size) + " bytes, more than the " +
                  std::to_string(size_limit / 1024) + " KB a settings file of this game can be");
  }
  std::string bytes;
  FileStamp stamp;
  if (const int err = ReadWholeFile(path_, &bytes, &stamp); err != 0) {
    return refuse("cannot be read (" + Reason(err) + ")");
  }
  text_ = IniText(std::move(bytes));
  seen_ = stamp;
  return Writable();
}

std::optional<std::string> IniStore::Writable() {
  // A folder the game cannot write would otherwise fail the first store, at a level's end in the
  // middle of a game. The entries can still be read.
  std::optional<std::string> why = WhyNotWritable(path_);
  if (!why) return std::nullopt;
  read_only_ = true;
  return "The settings file " + path_ + " " + *why + ".";
}

void IniStore::Refresh() {
  struct stat st;
  if (::stat(path_.c_str(), &st) == 0 && seen_ && *seen_ == StampOf(st)) return;
  // Dropped before the new bytes come in, so that two copies are never held at once.
  text_.Clear();
  seen_.reset();
  std::string bytes;
  FileStamp stamp;
  if (ReadWholeFile(path_, &bytes, &stamp) == 0) {
    text_ = IniText(std::move(bytes));
    seen_ = stamp;
  }
}

std::optional<std::string> IniStore::Read(const std::string& app, const std::string& section,
                                          const std::string& key) {
  if (off_) return std::nullopt;
  // A missing or unreadable file reads as no entries; Store refuses to overwrite the latter.
  if (!path_.empty()) Refresh();
  return text_.Get(app, section, key);
}

bool IniStore::Store(const std::vector<IniEntry>& entries) {
  auto failed = [&](const char* why) {
    std::string names;
    for (const IniEntry& e : entries) {
      names += (names.empty() ? "" : ", ") + e.app + "/" + e.section + "/" + e.key;
    }
    return std::string("Cannot store the setting") + (entries.size() > 1 ? "s " : " ") + names +
           ": " + why;
  };
  try {
    for (const IniEntry& e : entries) CheckStorable(e.app, e.section, e.key, e.value);
    if (off_ || read_only_) return false;
    if (path_.empty()) {  // in memory: text_ is the store
      for (const IniEntry& e : entries) text_.Put(e.app, e.section, e.key, e.value);
      return true;
    }
    const std::string target = FollowLinks(path_);
    TempFile temp(target);
    // Read only once the lock is held, so the entries of a concurrent store are kept; the copy
    // held so far goes first, so that a store holds one copy of the file and its changes.
    text_.Clear();
    seen_.reset();
    std::string bytes;
    FileStamp stamp;
    if (int err = ReadWholeFile(target, &bytes, &stamp); err != 0 && err != ENOENT) {
      // Rewriting a file we cannot read would drop the player's name, address and comments.
      throw std::runtime_error("cannot read " + target + ": " + Reason(err));
    }
    struct stat st;
    const mode_t mode = ::stat(target.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0600;
    IniText text(std::move(bytes));
    for (const IniEntry& e : entries) text.Put(e.app, e.section, e.key, e.value);
    temp.Replace(text.Bytes(), mode);
    text_ = std::move(text);
    // The file as renamed into place: the next read need not read it again.
    if (::stat(path_.c_str(), &st) == 0 && StampOf(st) == temp.Stamp()) seen_ = temp.Stamp();
    return true;
  } catch (const std::invalid_argument& e) {
    throw PlatformError(failed(e.what()));
  } catch (const std::runtime_error& e) {
    throw PlatformError(failed(e.what()));
  }
}

void ReplaceFile(const std::string& path, const std::string& bytes) {
  TempFile temp(path);
  temp.Replace(bytes, 0600);
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

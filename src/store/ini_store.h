// ini_store.h -- the settings file: "[APPLICATION/SECTION]" headers and "KEY=VALUE" lines,
// names compared ignoring case, values verbatim, every unknown line kept, atomic rewrites.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace qv {

// The most a settings file may hold for the game to use it. The game's own entries take a few
// hundred bytes: a larger file is not one it wrote, and rewriting it at every store would cost
// the player time and disk.
inline constexpr size_t kSettingsSizeLimit = 1024 * 1024;

// The text of a settings file, held as its bytes so that rewriting one entry leaves every other
// byte as the player's editor left it: each line keeps its own line end (LF, CRLF, a doubled CR,
// a lone CR, or none at the end of the file) and the byte-order marks that open the file stay.
// Reading ignores those marks and treats any run of CRs before an LF as part of the line end,
// so a line means the same before and after any number of rewrites. Every operation is one pass
// over the bytes that allocates nothing per line: the work and memory follow the file's size.
class IniText {
 public:
  explicit IniText(std::string bytes = {}) : bytes_(std::move(bytes)) {}

  // The value of the first matching entry, verbatim; nothing when there is none.
  std::optional<std::string> Get(const std::string& app, const std::string& section,
                                 const std::string& key) const;
  // Sets the first matching entry, or adds it at the end of its section (the section at the end
  // of the file when there is none); new lines take the file's line end. Throws
  // std::invalid_argument for a name or value that could not be read back as given.
  void Set(const std::string& app, const std::string& section, const std::string& key,
           const std::string& value);
  // The whole file, byte for byte.
  const std::string& Bytes() const { return bytes_; }
  // Drops the bytes and gives their memory back.
  void Clear() { std::string().swap(bytes_); }

 private:
  friend class IniStore;  // checks all the entries of a store first, then puts each
  // Set without the check.
  void Put(const std::string& app, const std::string& section, const std::string& key,
           const std::string& value);
  std::string FileLineEnd() const;

  std::string bytes_;
};

// One entry to store: application, section, key and the text stored under them.
struct IniEntry {
  std::string app, section, key, value;
};

// What tells one state of a file from another without reading it.
struct FileStamp {
  unsigned long long device = 0, inode = 0;
  long long size = 0, modified_ns = 0, changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

class IniStore {
 public:
  // An empty path keeps the store in memory only.
  explicit IniStore(std::string path = {});

  // Start-up: reads the file once and says, as a sentence naming it, why the game must leave it
  // alone: it exists but cannot be read, or it is larger than size_limit (the store is then off:
  // reads give missing entries and stores change nothing), or it cannot be written, for its
  // folder cannot (reads go on as before, stores change nothing). Nothing when the file is fine
  // or missing (a missing file is created by the first store).
  std::optional<std::string> Open(size_t size_limit = kSettingsSizeLimit);
  // The entry as the file holds it now: the file is read again only when it has changed since
  // it was last read (the player may have edited it). A missing, unreadable or damaged file
  // gives missing entries.
  std::optional<std::string> Read(const std::string& app, const std::string& section,
                                  const std::string& key);
  // Sets the entries and rewrites the whole file once, atomically: a temporary file beside it,
  // flushed, renamed over it, the folder flushed; the file is read afresh under a lock first, so
  // what another copy of the game stored meanwhile is kept. A settings file that is a symbolic
  // link is followed and its target rewritten; an existing file keeps its permissions, a new one
  // is 0600. Throws PlatformError, naming the entries, the file and the reason, when the file
  // cannot be written, or exists but cannot be read (rewriting it would lose the player's own
  // lines). False, with nothing touched, when Open turned stores off.
  bool Store(const std::vector<IniEntry>& entries);
  bool Store(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value) {
    return Store({{app, section, key, value}});
  }

  // The file's bytes as last read or written (for tests and the in-memory store).
  std::string Text() const { return text_.Bytes(); }

 private:
  void Refresh();
  // Turns stores off, with the sentence Open gives, when the file could not be written.
  std::optional<std::string> Writable();

  std::string path_;
  IniText text_;
  std::optional<FileStamp> seen_;  // the file text_ was read from, while it is current
  bool off_ = false;
  bool read_only_ = false;
};

// $XDG_CONFIG_HOME/quorvane/settings.ini, or ~/.config/quorvane/settings.ini when unset.
std::string DefaultSettingsPath();

// Writes a whole file as the settings file is written: a temporary file beside it, flushed,
// renamed over it, the folder flushed (made, with its parents, when missing); a new file is
// 0600. Throws std::runtime_error saying what failed.
void ReplaceFile(const std::string& path, const std::string& bytes);

}  // namespace qv

// ini_store.h -- the settings file: "[APPLICATION/SECTION]" headers and "KEY=VALUE" lines,
// names compared ignoring case, values verbatim, every unknown line kept, atomic rewrites.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv {

// The text of a settings file, held so that rewriting one entry leaves every other byte as the
// player's editor left it: each line keeps its own line end (LF, CRLF, a doubled CR, a lone
// CR, or none at the end of the file) and the byte-order marks that open the file stay.
// Reading ignores those marks and treats any run of CRs before an LF as part of the line end,
// so a line means the same before and after any number of rewrites.
class IniText {
 public:
  explicit IniText(const std::string& bytes = {});

  // The value of the first matching entry, verbatim; nothing when there is none.
  std::optional<std::string> Get(const std::string& app, const std::string& section,
                                 const std::string& key) const;
  // Sets the first matching entry, or adds it at the end of its section (the section at the end
  // of the file when there is none); new lines take the file's line end. Throws
  // std::invalid_argument for a name or value that could not be read back as given.
  void Set(const std::string& app, const std::string& section, const std::string& key,
           const std::string& value);
  // The whole file, byte for byte.
  std::string Bytes() const;

 private:
  struct Line {
    std::string text;  // without its line end (and, on the first line, without the marks)
    std::string end;   // "\n", "\r\n", "\r\r\n", "\r", ... or "" on an unterminated last line
  };
  std::string FileLineEnd() const;

  std::string marks_;  // byte-order marks at the start of the file
  std::vector<Line> lines_;
};

class IniStore {
 public:
  // An empty path keeps the store in memory only.
  explicit IniStore(std::string path = {});

  // Reads the file afresh (the player may have edited it); a missing, unreadable or damaged
  // file gives missing entries.
  std::optional<std::string> Read(const std::string& app, const std::string& section,
                                  const std::string& key);
  // Sets the entry and rewrites the whole file atomically: a temporary file beside it, flushed,
  // renamed over it, the folder flushed. A settings file that is a symbolic link is followed
  // and its target rewritten; an existing file keeps its permissions, a new one is 0600. Throws
  // PlatformError, naming the entry, the file and the reason, when the file cannot be written,
  // or exists but cannot be read (rewriting it would lose the player's own lines).
  void Store(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value);

  const std::string& Path() const { return path_; }
  // The file's bytes as last read or written (for tests and the in-memory store).
  std::string Text() const { return text_.Bytes(); }

 private:
  std::string path_;
  IniText text_;
};

// $XDG_CONFIG_HOME/quorvane/settings.ini, or ~/.config/quorvane/settings.ini when unset.
std::string DefaultSettingsPath();

}  // namespace qv

// ini_store.h -- the settings file: "[APPLICATION/SECTION]" headers and "KEY=VALUE" lines,
// names compared ignoring case, values verbatim, every unknown line kept, atomic rewrites.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv {

class IniStore {
 public:
  // An empty path keeps the store in memory only.
  explicit IniStore(std::string path = {});

  // Reads the file afresh (the player may have edited it); a missing, unreadable or damaged
  // file gives missing entries.
  std::optional<std::string> Read(const std::string& app, const std::string& section,
                                  const std::string& key);
  // Sets the entry and rewrites the whole file atomically (temporary file, fsync, rename).
  // Throws PlatformError, naming the entry, when the file cannot be written.
  void Store(const std::string& app, const std::string& section, const std::string& key,
             const std::string& value);

  const std::string& Path() const { return path_; }
  // The file's lines as last read or written (for tests and the in-memory store).
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  void Load();
  void Replace(const std::string& app, const std::string& section, const std::string& key,
               const std::string& value);
  void Save() const;

  std::string path_;
  std::vector<std::string> lines_;
};

// $XDG_CONFIG_HOME/quorvane/settings.ini, or ~/.config/quorvane/settings.ini when unset.
std::string DefaultSettingsPath();

}  // namespace qv

// play_files.h -- the browser version of the game (scripts/web's play/ folder), served at
// /play/: every file of its folder read into memory once, at start, with its content type and
// an entity tag, so that an answer never waits on the disk and a reload costs a 304.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace scores {

struct PlayFile {
  std::shared_ptr<const std::string> body;
  std::string content_type;
  std::string etag;  // a quoted hash of the content
};

class PlayFiles {
 public:
  // Reads every regular file below folder (symbolic links are not followed out of it). Empty,
  // with why() saying so, when the folder cannot be read or holds no index.html.
  explicit PlayFiles(const std::string& folder);

  // The file at a path below /play/ ("" is index.html); nullptr for anything else, a path that
  // climbs out with "..", or one that is percent-encoded (the page names none that way).
  const PlayFile* Find(std::string_view path) const;
  bool empty() const { return files_.empty(); }
  const std::string& why() const { return why_; }
  std::size_t bytes() const { return bytes_; }

 private:
  std::map<std::string, PlayFile, std::less<>> files_;
  std::string why_;
  std::size_t bytes_ = 0;
};

}  // namespace scores

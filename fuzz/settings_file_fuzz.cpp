// settings_file_fuzz.cpp -- fuzzes the settings file's reading and rewriting: any file, any
// entry stored into it. Input: the application, section, key and value to store, then the file,
// then one byte that may choose the entry from the file instead.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/ini_store.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "settings file: %s\n", what);
    std::abort();
  }
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Entries the file might hold, found without the store's own reader: each text before an '='
// with the last bracketed text above it, split at its first '/' into application and section.
struct Entry {
  std::string app, section, key;
};

std::vector<Entry> EntriesIn(const std::string& file) {
  std::vector<Entry> entries;
  std::string app, section;
  size_t pos = 0;
  while (pos <= file.size() && entries.size() < 32) {
    size_t stop = file.find_first_of("\r\n", pos);
    if (stop == std::string::npos) stop = file.size();
    const std::string line = file.substr(pos, stop - pos);
    size_t open = line.find('['), close = line.rfind(']');
    if (open != std::string::npos && close != std::string::npos && open < close) {
      const std::string inner = Trim(line.substr(open + 1, close - open - 1));
      size_t slash = inner.find('/');
      if (slash != std::string::npos) {
        app = inner.substr(0, slash);
        section = inner.substr(slash + 1);
      }
    }
    size_t eq = line.find('=');
    if (eq != std::string::npos) entries.push_back({app, section, Trim(line.substr(0, eq))});
    pos = stop + 1;
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint8_t choice = in.ConsumeIntegral<uint8_t>();  // taken from the end of the input
  std::string app = in.ConsumeRandomLengthString(24);
  std::string section = in.ConsumeRandomLengthString(24);
  std::string key = in.ConsumeRandomLengthString(24);
  const std::string value = in.ConsumeRandomLengthString(64);
  const std::string file = in.ConsumeRemainingBytesAsString();

  // Names the file already holds are hard to guess: half the inputs store into an entry of
  // the file (or a new key in one of its sections).
  const std::vector<Entry> found = EntriesIn(file);
  if ((choice & 1) && !found.empty()) {
    const Entry& e = found[(choice >> 2) % found.size()];
    app = e.app;
    section = e.section;
    if (!(choice & 2)) key = e.key;
  }

  const qv::IniText before(file);
  Require(before.Bytes() == file, "reading and writing back unchanged changes the file");
  qv::IniText after = before;
  try {
    after.Set(app, section, key, value);
  } catch (const std::invalid_argument&) {
    Require(after.Bytes() == file, "a refused store changed the file");
    return 0;
  }
  const std::string written = after.Bytes();
  const qv::IniText reread(written);
  Require(reread.Bytes() == written, "the stored file does not read back as written");
  Require(reread.Get(app, section, key) == value, "the stored value does not read back");

  // Every other entry the file had, or lacked, reads the same after the store.
  const std::string stored_section = Lower(app + "/" + section);
  for (const Entry& e : found) {
    for (const Entry& other : {e, Entry{app, section, e.key}}) {
      if (Lower(other.app + "/" + other.section) == stored_section &&
          Lower(other.key) == Lower(key)) {
        continue;
      }
      Require(before.Get(other.app, other.section, other.key) ==
                  reread.Get(other.app, other.section, other.key),
              "another entry changed");
    }
  }

  // Storing the same value again changes nothing; storing the old one back restores the file.
  qv::IniText again(written);
  again.Set(app, section, key, value);
  Require(again.Bytes() == written, "storing the same value twice changed the file");
  if (const auto old = before.Get(app, section, key)) {
    qv::IniText restored(written);
    restored.Set(app, section, key, *old);
    Require(restored.Bytes() == file, "storing the old value back did not restore the file");
  }
  return 0;
}

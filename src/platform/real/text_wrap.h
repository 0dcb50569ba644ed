// text_wrap.h -- breaks a message into lines at spaces, so a message box stays narrow enough
// for a small screen. A pure function, tested on its own.
#pragma once

#include <string>

namespace qv {

// Lines of at most `width` characters where the words allow (a longer word stands alone);
// the text's own line breaks are kept. Runs of spaces at a break are dropped.
inline std::string WrapText(const std::string& text, size_t width) {
  std::string out, line;
  size_t i = 0;
  auto flush = [&] {
    out += line;
    line.clear();
  };
  while (i < text.size()) {
    if (text[i] == '\n') {
      flush();
      out += '\n';
      ++i;
      continue;
    }
    const size_t word_start = text.find_first_not_of(' ', i);
    if (word_start == std::string::npos) break;
    size_t word_end = text.find_first_of(" \n", word_start);
    if (word_end == std::string::npos) word_end = text.size();
    const std::string gap = line.empty() ? "" : text.substr(i, word_start - i);
    const std::string word = text.substr(word_start, word_end - word_start);
    if (!line.empty() && line.size() + gap.size() + word.size() > width) {
      flush();
      out += '\n';
      line = word;
    } else {
      line += gap + word;
    }
    i = word_end;
  }
  flush();
  return out;
}

}  // namespace qv

// replay_file.h -- a replay as a file: what the game read through the seam while one game (or
// one bonus round) was played, with what it asked for, and what it started from, compressed with
// zstd. docs/DESIGN.md, section 8, gives the format byte by byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// A file that is not a replay this program can read; what() says why, for the player or the
// operator.
struct ReplayError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a replay holds.
enum class ReplayKind : uint8_t { Game = 0, BonusRound = 1 };

// A buffer alive when the recording began, as far as the seam tells: what plays under the game's
// first sounds (the menu music under the difficulty prompt). For playback and rendering.
struct StagedBuffer {
  int id = 0;
  std::string file;
  int volume = 0;
  int pan = 0;
  int frequency = 0;  // 0: the file's own rate
  bool playing = false;
  bool looping = false;
  uint32_t frame = 0;  // where it plays from
};

// How the game says the recorded game ended; a check runs it again to see.
struct ReplayOutcome {
  int32_t score = 0;       // the score at the end
  int32_t stored = 0;      // the high score it stored, when it made one; else 0
  uint8_t difficulty = 0;  // 1 to 3; 0 for a bonus round
  uint8_t level = 0;       // the level it ended in; 0 for a bonus round
  bool closed = false;     // ended by the window's close
  bool operator==(const ReplayOutcome&) const = default;
};

struct Replay {
  std::string game_version;  // the version of the game that recorded it
  ReplayKind kind = ReplayKind::Game;
  std::string player;     // the player's name from the settings file, as it was
  ReplayOutcome claimed;  // what the game that recorded it says came of it
  std::string state;      // the game's own state at the start (startup/replays.cpp reads it)
  uint32_t start_ms = 0;  // the tick count when the recording began
  std::array<uint8_t, 256> keys{};  // the keyboard as the last read before the recording saw it
  std::vector<StagedBuffer> stage;
  std::string events;  // the seam's calls and what they gave, in order (see replay_events.h)
};

// The format's own version: a change to the layout of the file or of its events changes it.
constexpr uint16_t kReplayFormat = 1;
// Limits that keep a hostile file from costing memory: the file, and what it holds.
constexpr size_t kReplayFileLimit = 1 << 20;
constexpr size_t kReplayBodyLimit = 64 << 20;

// The file's bytes. Throws ReplayError when compression fails.
std::string EncodeReplay(const Replay& replay);
// Reads a file. Throws ReplayError saying why it cannot be read: not a replay, another format
// or version of the game (game_version, when given, is the one it must be from), damaged,
// truncated, too large.
Replay DecodeReplay(std::string_view bytes, std::string_view game_version = {});

// Little-endian variable-length integers and length-prefixed strings, the format's units.
class ByteWriter {
 public:
  void Byte(uint8_t b) { out_.push_back(static_cast<char>(b)); }
  void Unsigned(uint64_t v);
  void Signed(int64_t v) {
    Unsigned((static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63));
  }
  void Text(std::string_view s);
  std::string& Bytes() { return out_; }

 private:
  std::string out_;
};

// Reads what a ByteWriter wrote; throws ReplayError("... damaged") past the end or on an
// over-long number.
class ByteReader {
 public:
  explicit ByteReader(std::string_view in) : in_(in) {}
  uint8_t Byte();
  uint64_t Unsigned();
  int64_t Signed() {
    const uint64_t v = Unsigned();
    return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
  }
  std::string Text();
  bool AtEnd() const { return at_ == in_.size(); }
  size_t Offset() const { return at_; }

 private:
  std::string_view in_;
  size_t at_ = 0;
};

}  // namespace qv

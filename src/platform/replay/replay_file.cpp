// replay_file.cpp -- writing and reading replay files.
#include "platform/replay/replay_file.h"

#include <zstd.h>

namespace qv {

namespace {

constexpr std::string_view kMagic = "QVRP";
// zstd's strongest levels take a few milliseconds for a whole game's recording, once, as the
// game ends: the smallest file for what costs the player nothing.
constexpr int kCompressionLevel = 19;

[[noreturn]] void Damaged(const std::string& why) {
  throw ReplayError("The replay is damaged (" + why + ").");
}

}  // namespace

void ByteWriter::Unsigned(uint64_t v) {
  while (v >= 0x80) {
    out_.push_back(static_cast<char>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out_.push_back(static_cast<char>(v));
}

void ByteWriter::Text(std::string_view s) {
  Unsigned(s.size());
  out_.append(s);
}

uint8_t ByteReader::Byte() {
  if (at_ >= in_.size()) Damaged("it ends too early");
  return static_cast<uint8_t>(in_[at_++]);
}

uint64_t ByteReader::Unsigned() {
  uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const uint8_t b = Byte();
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) return v;
  }
  Damaged("a number is too long");
}

std::string ByteReader::Text() {
  const uint64_t n = Unsigned();
  if (n > in_.size() - at_) Damaged("it ends too early");
  std::string s(in_.substr(at_, n));
  at_ += n;
  return s;
}

std::string EncodeReplay(const Replay& replay) {
  ByteWriter body;
  body.Byte(static_cast<uint8_t>(replay.kind));
  body.Text(replay.player);
  body.Signed(replay.claimed.score);
  body.Signed(replay.claimed.stored);
  body.Byte(replay.claimed.difficulty);
  body.Byte(replay.claimed.level);
  body.Byte(replay.claimed.closed ? 1 : 0);
  body.Text(replay.state);
  body.Unsigned(replay.start_ms);
  size_t down = 0;
  for (uint8_t k : replay.keys) down += k != 0 ? 1 : 0;
  body.Unsigned(down);
  for (size_t k = 0; k < 256; ++k) {
    if (replay.keys[k] == 0) continue;
    body.Byte(static_cast<uint8_t>(k));
    body.Byte(replay.keys[k]);
  }
  body.Unsigned(replay.stage.size());
  for (const StagedBuffer& b : replay.stage) {
    body.Unsigned(static_cast<uint64_t>(b.id));
    body.Text(b.file);
    body.Signed(b.volume);
    body.Signed(b.pan);
    body.Unsigned(static_cast<uint64_t>(b.frequency));
    body.Byte(static_cast<uint8_t>((b.playing ? 1 : 0) | (b.looping ? 2 : 0)));
    body.Unsigned(b.frame);
  }
  body.Bytes().append(replay.events);

  ByteWriter file;
  file.Bytes().append(kMagic);
  file.Byte(kReplayFormat & 0xFF);
  file.Byte(kReplayFormat >> 8);
  file.Text(replay.game_version);
  const std::string& raw = body.Bytes();
  std::string packed(ZSTD_compressBound(raw.size()), '\0');
  // With zstd's checksum, a damaged file reads as damaged rather than as another game.
  ZSTD_CCtx* zstd = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(zstd, ZSTD_c_compressionLevel, kCompressionLevel);
  ZSTD_CCtx_setParameter(zstd, ZSTD_c_checksumFlag, 1);
  const size_t n = ZSTD_compress2(zstd, packed.data(), packed.size(), raw.data(), raw.size());
  ZSTD_freeCCtx(zstd);
  if (ZSTD_isError(n)) {
    throw ReplayError(std::string("Cannot compress a replay: ") + ZSTD_getErrorName(n));
  }
  file.Bytes().append(packed.data(), n);
  return std::move(file.Bytes());
}

Replay DecodeReplay(std::string_view bytes, std::string_view game_version) {
  if (bytes.size() > kReplayFileLimit) {
    throw ReplayError("The replay is too large (" + std::to_string(bytes.size()) +
                      " bytes; a replay is at most " + std::to_string(kReplayFileLimit) + ").");
  }
  if (bytes.substr(0, kMagic.size()) != kMagic) throw ReplayError("This is not a QuorVane replay.");
  ByteReader head(bytes.substr(kMagic.size()));
  const uint16_t format = static_cast<uint16_t>(head.Byte() | (head.Byte() << 8));
  if (format != kReplayFormat) {
    throw ReplayError("The replay is in format " + std::to_string(format) +
                      ", which this version of QuorVane does not read (it reads format " +
                      std::to_string(kReplayFormat) + ").");
  }
  Replay replay;
  replay.game_version = head.Text();
  if (!game_version.empty() && replay.game_version != game_version) {
    throw ReplayError("The replay was recorded by QuorVane " + replay.game_version +
                      "; this is QuorVane " + std::string(game_version) +
                      ", whose game may differ: it cannot play it.");
  }
  const std::string_view packed = bytes.substr(kMagic.size() + head.Offset());
  const unsigned long long size = ZSTD_getFrameContentSize(packed.data(), packed.size());
  if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN)
    Damaged("bad compression");
  if (size > kReplayBodyLimit) Damaged("it claims more than it can hold");
  std::string raw(static_cast<size_t>(size), '\0');
  const size_t n = ZSTD_decompress(raw.data(), raw.size(), packed.data(), packed.size());
  if (ZSTD_isError(n) || n != raw.size()) Damaged("bad compression");

  ByteReader body(raw);
  const uint8_t kind = body.Byte();
  if (kind > static_cast<uint8_t>(ReplayKind::BonusRound)) Damaged("unknown kind");
  replay.kind = static_cast<ReplayKind>(kind);
  replay.player = body.Text();
  replay.claimed.score = static_cast<int32_t>(body.Signed());
  replay.claimed.stored = static_cast<int32_t>(body.Signed());
  replay.claimed.difficulty = body.Byte();
  replay.claimed.level = body.Byte();
  replay.claimed.closed = body.Byte() != 0;
  replay.state = body.Text();
  replay.start_ms = static_cast<uint32_t>(body.Unsigned());
  const uint64_t down = body.Unsigned();
  if (down > 256) Damaged("too many keys");
  for (uint64_t i = 0; i < down; ++i) {
    const uint8_t key = body.Byte();
    replay.keys[key] = body.Byte();
  }
  const uint64_t staged = body.Unsigned();
  if (staged > 4096) Damaged("too many sounds");
  for (uint64_t i = 0; i < staged; ++i) {
    StagedBuffer b;
    b.id = static_cast<int>(body.Unsigned() & 0x7FFFFFFF);
    b.file = body.Text();
    b.volume = static_cast<int>(body.Signed());
    b.pan = static_cast<int>(body.Signed());
    b.frequency = static_cast<int>(body.Unsigned() & 0x7FFFFFFF);
    const uint8_t flags = body.Byte();
    b.playing = (flags & 1) != 0;
    b.looping = (flags & 2) != 0;
    b.frame = static_cast<uint32_t>(body.Unsigned());
    replay.stage.push_back(std::move(b));
  }
  replay.events = raw.substr(body.Offset());
  return replay;
}

}  // namespace qv

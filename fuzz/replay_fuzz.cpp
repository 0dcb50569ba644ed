// replay_fuzz.cpp -- fuzzes what the score server runs for anyone who posts a replay: the file
// read, then the game's own code played on the replay backend. Any input is either refused with
// a reason or runs to a game's end; nothing else may happen (no crash, no other exception, no
// memory error). The input is a replay's body, compressed here, so that the fuzzer's changes
// reach the events and not only the compression's checksum; a first byte of 0xFF sends the rest
// as a whole file instead.
#include <zstd.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/replay/replay_file.h"
#include "platform/replay/replay_platform.h"
#include "startup/replays.h"

#ifndef QV_SOUNDS_DIR
#error "QV_SOUNDS_DIR names the game's sounds"
#endif

namespace {

std::string AsFile(std::string_view body) {
  std::string file = "QVRP";
  file += static_cast<char>(qv::kReplayFormat & 0xFF);
  file += static_cast<char>(qv::kReplayFormat >> 8);
  const std::string version = QV_VERSION;
  file += static_cast<char>(version.size());
  file += version;
  std::string packed(ZSTD_compressBound(body.size()), '\0');
  packed.resize(ZSTD_compress(packed.data(), packed.size(), body.data(), body.size(), 1));
  return file + packed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::string file =
      !input.empty() && data[0] == 0xFF ? std::string(input.substr(1)) : AsFile(input);
  try {
    const qv::Replay replay = qv::DecodeReplay(file, QV_VERSION);
    qv::ReplayPlatform machine(replay, {QV_SOUNDS_DIR, 1.0});
    qv::RunReplay(replay, machine);
  } catch (const qv::ReplayError&) {
  } catch (const qv::ReplayRefused&) {
  }
  return 0;
}

// replay_platform.h -- the seam played back from a replay: each call the game makes must be the
// next one the replay holds, asked for with the same values, and gets what the recording gave.
// What the recording gave must have been possible: the clock never goes back, a key changes only
// in a turn of the window system, a sound ends no sooner than its length at its rate allows.
// Anything else refuses the replay, saying why. It knows nothing of the game; observers hear
// each operation as from any backend, so the sound log and the render follow a replay.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/render.h"
#include "platform/replay/replay_events.h"
#include "platform/replay/replay_file.h"

namespace qv {

// Why a replay is refused, as a sentence for the player or the operator.
struct ReplayRefused {
  std::string reason;
};
// Thrown by Terminate: the game ended the program in the replay, with this status.
struct ReplayTerminated {
  int status;
};

struct ReplayOptions {
  std::string sounds_dir;   // the game's sounds: their lengths bound when each can end
  double cpu_budget_s = 0;  // the most computing a replay may take; 0: no limit
  uint32_t max_ms = 0;      // the longest a replay may last, by its clock; 0: no limit
};

class ReplayPlatform : public System, public Input, public Sound, public Transfer {
 public:
  ReplayPlatform(const Replay& replay, ReplayOptions options);

  Platform Parts() { return Platform{*this, *this, *this, *this}; }

  // The tick count as the replay last told it, for the sound log's and the render's clocks
  // (which must not take events of their own).
  uint32_t Now() const { return clock_; }
  // True once every event has been asked for.
  bool AtEnd() const { return events_.AtEnd(); }
  // Run at the end of each turn of the window system, once the clock has moved on.
  void SetTurnEndHook(std::function<void()> hook) { turn_end_hook_ = std::move(hook); }

  // A buffer as the recording shows it (the render follows it where the mixer would drift).
  struct Buffer {
    std::string file;
    uint32_t rate = 0;         // the file's own
    uint32_t frame_bytes = 0;  // bytes of one frame of the file's data
    double frames = 0;         // the file's length
    int frequency = 0;         // the rate it plays at
    bool playing = false;
    bool looping = false;
    bool stopped = false;  // stopped by the game since it last played
    double frame = 0;      // where it played from at `since`
    uint32_t since = 0;
  };
  const Buffer* FindBuffer(BufferId id) const;
  // Where the buffer plays from now, in frames of its file.
  double Position(BufferId id) const;

  // System
  uint32_t TickCount() override;
  uint32_t ClockSeed() override;
  void ShowWindow() override;
  WindowEvents ProcessEvents(std::optional<uint32_t> due) override;
  void MessageBox(const std::string& text) override;
  [[noreturn]] void Terminate(int status) override;
  void SetTimerEnabled(bool enabled) override;
  // Input
  bool CreateKeyboard() override;
  bool AcquireKeyboard() override;
  KeyRead ReadKeyboard(uint8_t state[256]) override;
  // Sound
  bool OpenSoundDevice() override;
  BufferId CreateBuffer(const std::string& file) override;
  void Play(BufferId id, PlayMode mode) override;
  void Stop(BufferId id) override;
  void SetCurrentPosition(BufferId id, uint32_t byte_offset) override;
  void SetVolume(BufferId id, int hundredths_db) override;
  void SetPan(BufferId id, int pan) override;
  void SetFrequency(BufferId id, int hertz) override;
  int GetStatus(BufferId id) override;
  void SetQuickResponse(bool /*quick*/) override {}  // the recorder keeps none
  void Release(BufferId id) override;
  // Transfer
  void StartTransfer(const std::string& url, const std::string& body) override;
  bool TransferExecuting() override;
  int TransferStatus() override;

 private:
  [[noreturn]] void Refuse(const std::string& why) const;
  // The next event, which must be `op`: what the game asks for now.
  void Expect(ReplayOp op);
  // The recorded value and the one the game asked for must agree.
  void Same(uint64_t recorded, uint64_t asked, const char* what) const;
  void SameText(const std::string& recorded, const std::string& asked, const char* what) const;
  // The time the recording tells now, which must not go back.
  void Advance(int64_t delta);
  Buffer& Find(BufferId id, const char* op);
  // Brings a buffer's position up to now; a sound played once stops at its end.
  void Catch(Buffer& b);
  void LoadFormat(Buffer& b) const;

  ReplayOptions options_;
  ByteReader events_;
  uint64_t event_ = 0;  // events asked for so far
  uint32_t start_;
  uint32_t clock_;
  double cpu_start_s_ = 0;
  std::function<void()> turn_end_hook_;
  std::array<uint8_t, 256> keys_{};
  bool turned_since_read_ = true;  // a turn of the window system since the last keyboard read
  bool acquired_ = true;           // the keyboard reads: no read has failed since it was acquired
  std::map<BufferId, Buffer> buffers_;
  std::map<BufferId, bool> used_;  // every buffer number seen, never to be given again
  int transfer_status_ = 0;
};

// A render of what a replay plays as it runs: staged with the sounds there as it began, mixed up
// to the replay's time before each operation; once the replay has run, AdvanceTo(the replay's
// length) mixes its tail. For the simulator's --render and the score server's listening copy.
std::unique_ptr<Render> RenderReplay(ReplayPlatform& machine, const Replay& replay,
                                     std::string sounds_dir, Render::Sink sink,
                                     uint32_t rate = kRenderRate);

}  // namespace qv

// recorder.h -- the seam, recorded: a platform that passes every call to the backend beneath it
// and, while a recording runs, keeps each call with what it gave, in the replay's event format.
// The game runs on it as on any backend; observers watch the backend beneath, not it.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/replay/replay_events.h"
#include "platform/replay/replay_file.h"
#include "platform/wave_file.h"

namespace qv {

// What one recording holds, for the replay file.
struct Recording {
  uint32_t start_ms = 0;
  std::array<uint8_t, 256> keys{};  // the keyboard as the last read before it saw it
  std::vector<StagedBuffer> stage;
  std::string events;
};

class Recorder : public System,
                 public Input,
                 public Sound,
                 public Transfer,
                 private PlatformObserver {
 public:
  // sounds_dir: where the backend finds its files (to know where a sound is when a recording
  // begins). Watches the backend, to stamp each call when the backend tells it: made before a
  // sound log follows the backend, it is told first, and the two read the same millisecond.
  Recorder(Platform backend, std::string sounds_dir);
  ~Recorder() override;
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  Platform Parts() { return Platform{*this, *this, *this, *this}; }

  // Starts a recording (dropping one that runs). Called by startup as a game's difficulty is
  // chosen, and as a bonus round starts.
  void Begin();
  // Ends the recording and gives it; an empty one when none ran.
  Recording Finish();
  // The buffers alive now, as far as the calls passed on tell, each where it plays from.
  std::vector<StagedBuffer> Stage();
  // Drops the recording that runs, if any (the player went back to the menu).
  void Abandon() { recording_ = false; }
  bool IsRecording() const { return recording_; }

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
  void SetQuickResponse(bool quick) override;
  void Release(BufferId id) override;
  // Transfer
  void StartTransfer(const std::string& url, const std::string& body) override;
  bool TransferExecuting() override;
  int TransferStatus() override;

 private:
  // What the recorder knows of a buffer from the calls it passed on, to tell where it is when a
  // recording begins.
  struct Tracked {
    std::string file;
    int volume = 0, pan = 0, frequency = 0;
    bool playing = false, looping = false;
    double frame = 0;       // where it played from when last started, stopped or moved
    uint32_t since_ms = 0;  // when that was
  };
  // Writes the op, and for a timed one the time of the call: when the backend told it, else
  // now.
  void Op(ReplayOp op);
  void Saw(const PlatformEvent& event) override;
  // The tracked buffer brought up to now: where it is, and whether it still plays.
  void Catch(Tracked& b, uint32_t now);
  double Rate(const Tracked& b);

  Platform backend_;
  std::string sounds_dir_;
  bool recording_ = false;
  std::optional<uint32_t> told_at_;  // when the backend told the call under way
  ByteWriter out_;
  std::vector<StagedBuffer> stage_;  // as the recording began
  uint32_t start_ = 0;               // the tick count when the recording began
  uint32_t clock_ = 0;               // the last time the recording told
  std::array<uint8_t, 256> keys_{};  // the last read's keys, which the next one is told against
  std::array<uint8_t, 256> keys_at_start_{};
  std::map<BufferId, Tracked> buffers_;
  std::map<std::string, WaveFormat> formats_;
};

}  // namespace qv

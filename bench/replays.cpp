// replays.cpp -- what replays cost: a six-level game the bot wins in the simulator, recorded (its
// size, what recording adds to each call and to the game's end), checked again as the score
// server checks it (time per game, games checked a second on this machine's cores), and rendered
// into its listening copy (time per game). Usage: replays [SOUNDS_DIR] (default: the game's).
#include "startup/replays.h"

#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "driver.h"
#include "platform/paths.h"
#include "platform/replay/recorder.h"
#include "platform/replay/replay_platform.h"
#include "replay_desk.h"
#include "script.h"
#include "startup/program.h"
#include "startup/startup.h"
#include "store/ini_store.h"

namespace {

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Session {
  double cpu_s = 0;
  std::vector<std::string> replays;
};

// The bot's game at difficulty 2 from the menu to the exit, recorded or not.
Session Play(const std::string& sounds, bool record) {
  std::string error;
  qv::SimOptions o;
  o.sounds_dir = sounds;
  o.bot_ms = 200;
  o.script = *qv::ParseScript(
      "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\ntap Down\n"
      "sleep 2500\ntap Return\nwait play final.wav\nwait play menuprompt.wav\ntap Escape\n",
      &error);
  qv::SoundLog log;
  log.KeepEntries(false);
  qv::VirtualPlatform machine(o);
  qv::SimDriver driver(machine, log, o);
  log.Follow(machine.Parts());
  qv::IniStore settings;
  qv::Recorder recorder(machine.Parts(), sounds);
  qv::Program pg(record ? recorder.Parts() : machine.Parts(), settings, &log);
  Session s;
  if (record) {
    pg.recorder = &recorder;
    pg.keep_replay = [&](const std::string& bytes, const qv::ReplayOutcome&, bool) {
      s.replays.push_back(bytes);
    };
  }
  const double start = CpuSeconds();
  try {
    qv::Main(pg);
  } catch (const qv::ProgramEnded&) {
  }
  s.cpu_s = CpuSeconds() - start;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string sounds = argc > 1 ? argv[1] : qv::FindSoundsDir();
  double load = 0;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &load) != 1) load = 0;
    std::fclose(f);
  }
  std::printf("machine: %u cores, load %.2f\n", std::thread::hardware_concurrency(), load);

  // The session alone, then recorded: the difference is what recording costs.
  // Each twice, the first of each warming the caches.
  Session plain = Play(sounds, false), recorded = Play(sounds, true);
  plain = Play(sounds, false);
  recorded = Play(sounds, true);
  if (recorded.replays.size() != 1) {
    std::printf("replays: the session made %zu replays, not 1\n", recorded.replays.size());
    return 1;
  }
  const std::string& replay = recorded.replays[0];
  const qv::Replay decoded = qv::DecodeReplay(replay);
  double encode_s = CpuSeconds();
  for (int i = 0; i < 10; ++i) qv::EncodeReplay(decoded);
  encode_s = (CpuSeconds() - encode_s) / 10;
  qv::ReplayPlatform machine(decoded, {sounds});
  qv::RunReplay(decoded, machine);
  std::printf(
      "a six-level game (%.0f s, the bot at 200 ms, the simulator's 1 ms passes): replay %zu "
      "bytes, %zu bytes of events before compression\n",
      (machine.Now() - decoded.start_ms) / 1000.0, replay.size(), decoded.events.size());
  std::printf(
      "recording: the session takes %.3f s of CPU, %.3f s recorded (%.1f%%); "
      "compressing at the game's end %.1f ms\n",
      plain.cpu_s, recorded.cpu_s, 100.0 * (recorded.cpu_s - plain.cpu_s) / plain.cpu_s,
      encode_s * 1000);

  const scores::ReplayDeskOptions options{sounds};
  double check_s = CpuSeconds();
  int checks = 0;
  for (; checks < 20 || CpuSeconds() - check_s < 2; ++checks) {
    if (!scores::CheckReplay(replay, options, false).verified) {
      std::printf("replays: the game's replay does not verify\n");
      return 1;
    }
  }
  check_s = (CpuSeconds() - check_s) / checks;
  double render_s = CpuSeconds();
  const scores::ReplayVerdict heard = scores::CheckReplay(replay, options, true);
  render_s = CpuSeconds() - render_s - check_s;
  std::printf("checking: %.1f ms of CPU a game, %.0f games a second on one core, %.0f on %u\n",
              check_s * 1000, 1 / check_s, std::thread::hardware_concurrency() / check_s,
              std::thread::hardware_concurrency());
  std::printf(
      "listening copy: %.2f s of CPU to render and encode the game, %zu bytes of Ogg Opus\n",
      render_s, heard.audio.size());
  return 0;
}

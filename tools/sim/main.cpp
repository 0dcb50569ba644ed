// main.cpp -- the simulator: runs the whole game from Main on the virtual backend and writes the
// sound log to standard output, recording each game if asked; or runs one replay again, in
// virtual time. See the README for options and script commands.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "driver.h"
#include "platform/paths.h"
#include "platform/replay/recorder.h"
#include "platform/replay/replay_platform.h"
#include "platform/sound_log.h"
#include "platform/virtual/virtual_platform.h"
#include "render_file.h"
#include "startup/program.h"
#include "startup/replays.h"
#include "startup/startup.h"
#include "store/ini_store.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvane-sim [--script FILE] [--bot MS] [--seed N] [--settings FILE]\n"
    "                    [--sounds DIR] [--until MS] [--tick0 N] [--http-status CODE]\n"
    "                    [--http-delay MS] [--no-device] [--render FILE.wav]\n"
    "                    [--record DIR] [--version] [--help]\n"
    "       quorvane-sim --replay FILE [--sounds DIR] [--render FILE.wav]\n";

// --help: what the README's simulator section says, for a terminal.
constexpr const char* kHelp =
    "\n"
    "Runs the whole game on a virtual machine, in virtual time (each turn of the window\n"
    "system is exactly 1 ms), and writes its sound log to standard output.\n"
    "\n"
    "Options:\n"
    "  --script FILE       keys and window events to play, one command a line (below)\n"
    "  --bot MS            a player that answers every launch MS ms after it\n"
    "  --seed N            mixed into the random generator's seeds (default 1)\n"
    "  --settings FILE     the settings file (default: an empty store in memory)\n"
    "  --sounds DIR        the sound set (default: the game's own)\n"
    "  --until MS          virtual time limit (default 3600000)\n"
    "  --tick0 N           the tick count at the start (default 0)\n"
    "  --http-status CODE  the score server's answer (default 200)\n"
    "  --http-delay MS     how long it takes (default 100; -1: it never answers)\n"
    "  --no-device         there is no sound device\n"
    "  --render FILE.wav   also mix the run through the game's mixer into a 44.1 kHz\n"
    "                      stereo 16-bit wave file\n"
    "  --record DIR        write each game and bonus round of the run into DIR as a replay,\n"
    "                      one file each (game-1.qvr, game-2.qvr...)\n"
    "  --replay FILE       run a replay again, in virtual time, checking it: print\n"
    "                      \"replay: score N difficulty D levels L\" (a bonus round: \"replay:\n"
    "                      bonus round score N\") and exit 0, or say why it is not consistent\n"
    "                      and exit 1\n"
    "\n"
    "Script commands (blank lines and lines starting with # are ignored), run one after\n"
    "another in virtual time:\n"
    "  sleep MS            let MS ms pass\n"
    "  down KEY, up KEY    press and hold, or release, KEY\n"
    "  tap KEY [MS]        press KEY, hold it MS ms (default 50), release it\n"
    "  wait OP FILE        until the log shows OP on FILE (store: FILE is APP/SECTION/KEY),\n"
    "                      counting from the previous command's start when it pressed a\n"
    "                      key or changed the window, else from its end\n"
    "  close               close the window\n"
    "  blur, focus         the window loses, or regains, the foreground\n"
    "KEY: Escape Return LeftCtrl S H L C B Space Up Left Right Down PageUp PageDown M F1\n"
    "(any case), or a scan code 0..255.\n"
    "\n"
    "The bot taps (30 ms) the arrow for the pan of each launch.wav or bonusFall.wav that starts\n"
    "playing, and of each pan set on a falling bonusFall.wav (-10000 Left, 0 Up, 10000\n"
    "Right), MS ms later; and Space MS ms after each warning.wav.\n"
    "\n"
    "The sound log: one event a line, MS OP ID SUBJECT VALUE separated by tabs; MS the time\n"
    "since start, OP one of load play stop release position volume pan frequency store\n"
    "http timer key message exit, ID the buffer's number, SUBJECT the file, settings entry,\n"
    "URL, key or text, VALUE what was set; \"-\" for an empty field.\n"
    "\n"
    "Exit status: 0 the program ended; 1 it ended with an error report, or the render could\n"
    "not be completed; 2 bad usage, an unreadable script or a render file that cannot be\n"
    "created; 3 the time limit was reached (standard error says which line of the script\n"
    "was under way).\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "quorvane-sim: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool ParseLong(const std::string& s, long long lo, long long hi, long long* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  long long v = std::strtoll(s.c_str(), &end, 10);
  if (*end != '\0' || v < lo || v > hi) return false;
  *out = v;
  return true;
}

// --replay: runs the replay in virtual time, its log to standard output, and says what came of
// it (0) or why it cannot be (1).
int RunReplayFile(const std::string& path, const std::string& sounds_dir,
                  const std::string& render_path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "quorvane-sim: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  std::stringstream bytes;
  bytes << in.rdbuf();
  try {
    const qv::Replay replay = qv::DecodeReplay(bytes.str(), QV_VERSION);
    qv::ReplayPlatform machine(replay, {sounds_dir});
    qv::SoundLog log(stdout);
    log.KeepEntries(false);
    log.Follow(machine.Parts(), [&] { return machine.Now() - replay.start_ms; });
    std::optional<qv::RenderFile> file;
    std::unique_ptr<qv::Render> render;
    if (!render_path.empty()) {
      file.emplace(render_path);
      render = qv::RenderReplay(machine, replay, sounds_dir,
                                [&](const auto& stems, size_t n) { file->Add(stems, n); });
    }
    const qv::ReplayOutcome outcome = qv::RunReplay(replay, machine, &log);
    if (render) render->AdvanceTo(machine.Now() - replay.start_ms);
    if (file) file->Close();
    if (replay.kind == qv::ReplayKind::BonusRound) {
      std::printf("replay: bonus round score %d\n", outcome.score);
    } else {
      std::printf("replay: score %d difficulty %d levels %d\n", outcome.score, outcome.difficulty,
                  outcome.level);
    }
    return 0;
  } catch (const qv::ReplayError& e) {
    std::fprintf(stderr, "quorvane-sim: %s: %s\n", path.c_str(), e.what());
  } catch (const qv::ReplayRefused& e) {
    std::fprintf(stderr, "quorvane-sim: %s is not consistent: %s\n", path.c_str(),
                 e.reason.c_str());
  } catch (const qv::WaveError& e) {
    std::fprintf(stderr, "quorvane-sim: %s\n", e.what());
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  qv::SimOptions options;
  options.sounds_dir = qv::FindSoundsDir();
  std::string script_path;
  std::string render_path;
  std::string record_dir;
  std::string replay_path;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kHelp, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("quorvane-sim %s\n", QV_VERSION);
      return 0;
    }
    if (arg == "--no-device") {
      options.no_device = true;
      continue;
    }
    if (i + 1 >= argc) return Usage("missing value after " + arg);
    std::string value = argv[++i];
    long long n = 0;
    if (arg == "--script") {
      script_path = value;
    } else if (arg == "--settings") {
      options.settings_path = value;
    } else if (arg == "--render") {
      render_path = value;
    } else if (arg == "--record") {
      record_dir = value;
    } else if (arg == "--replay") {
      replay_path = value;
    } else if (arg == "--sounds") {
      options.sounds_dir = value;
    } else if (arg == "--bot" && ParseLong(value, 0, 3600000, &n)) {
      options.bot_ms = static_cast<int>(n);
    } else if (arg == "--seed" && ParseLong(value, 0, 0xFFFFFFFFLL, &n)) {
      options.seed = static_cast<uint32_t>(n);
    } else if (arg == "--until" && ParseLong(value, 0, 0xFFFFFFFFLL, &n)) {
      options.until_ms = static_cast<uint32_t>(n);
    } else if (arg == "--tick0" && ParseLong(value, 0, 0xFFFFFFFFLL, &n)) {
      options.tick0 = static_cast<uint32_t>(n);
    } else if (arg == "--http-status" && ParseLong(value, 0, 999, &n)) {
      options.http_status = static_cast<int>(n);
    } else if (arg == "--http-delay" && ParseLong(value, -1, 3600000, &n)) {
      options.http_delay_ms = static_cast<int>(n);
    } else {
      return Usage("bad option " + arg + " " + value);
    }
  }
  if (!replay_path.empty()) return RunReplayFile(replay_path, options.sounds_dir, render_path);
  if (!record_dir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(record_dir, error);
    if (!std::filesystem::is_directory(record_dir, error)) {
      return Usage("cannot make the folder " + record_dir);
    }
  }
  if (!script_path.empty()) {
    // A folder opens as a stream that reads nothing: it would run as an empty script.
    std::error_code not_there;
    if (std::filesystem::is_directory(script_path, not_there)) {
      return Usage("cannot read script " + script_path + ": it is a folder");
    }
    std::ifstream in(script_path);
    if (!in) return Usage("cannot read script " + script_path + ": " + std::strerror(errno));
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad()) return Usage("cannot read script " + script_path);
    std::string error;
    auto script = qv::ParseScript(text.str(), &error);
    if (!script) return Usage(script_path + ": " + error);
    options.script = std::move(*script);
  }

  std::optional<qv::RenderFile> file;
  if (!render_path.empty()) {
    try {
      file.emplace(render_path);
    } catch (const qv::WaveError& e) {
      return Usage(e.what());
    }
  }
  qv::SoundLog log(stdout);
  log.KeepEntries(false);
  qv::VirtualPlatform machine(options);
  qv::SimDriver driver(machine, log, options);
  log.Follow(machine.Parts());
  std::optional<qv::VirtualRender> render;
  if (file) {
    render.emplace(machine, options.sounds_dir,
                   [&](const auto& stems, size_t frames) { file->Add(stems, frames); });
  }
  qv::IniStore settings(options.settings_path);
  // With --record, the game runs on the recorder, which passes each call on to the machine.
  qv::Recorder recorder(machine.Parts(), options.sounds_dir);
  qv::Program pg(record_dir.empty() ? machine.Parts() : recorder.Parts(), settings, &log);
  int recorded = 0;
  if (!record_dir.empty()) {
    pg.recorder = &recorder;
    pg.keep_replay = [&](const std::string& bytes, const qv::ReplayOutcome&, bool) {
      const std::string path = record_dir + "/game-" + std::to_string(++recorded) + ".qvr";
      std::ofstream out(path, std::ios::binary);
      out << bytes;
      if (!out.flush()) std::fprintf(stderr, "quorvane-sim: cannot write %s\n", path.c_str());
    };
  }
  int status = 0;
  try {
    qv::Main(pg);
  } catch (const qv::ProgramEnded& ended) {
    status = ended.status == 0 ? 0 : 1;
  } catch (const qv::UntilReached&) {
    status = 3;
    std::string under_way;
    if (const qv::ScriptCommand* c = driver.Current()) {
      under_way =
          " at line " + std::to_string(c->line) + " of " + script_path + " (" + c->text + ")";
    }
    std::fprintf(stderr, "quorvane-sim: the time limit of %u ms was reached%s\n",
                 static_cast<unsigned>(options.until_ms), under_way.c_str());
  }
  if (file) {
    try {
      file->Close();
    } catch (const qv::WaveError& e) {
      std::fprintf(stderr, "quorvane-sim: %s\n", e.what());
      return 1;
    }
  }
  return status;
}

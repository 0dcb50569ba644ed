// main.cpp -- the simulator: runs the whole game from Main on the virtual backend and
// writes the sound log to standard output. See the README for options and script commands.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "core/program.h"
#include "driver.h"
#include "platform/paths.h"
#include "platform/sound_log.h"
#include "platform/virtual/virtual_platform.h"
#include "render.h"
#include "startup/startup.h"
#include "store/ini_store.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvane-sim [--script FILE] [--bot MS] [--seed N] [--settings FILE]\n"
    "                    [--sounds DIR] [--until MS] [--tick0 N] [--http-status CODE]\n"
    "                    [--http-delay MS] [--no-device] [--render FILE.wav] [--version]\n"
    "                    [--help]\n"
    "--render FILE.wav: also mix the run through the game's mixer, in virtual time, into a\n"
    "44.1 kHz stereo 16-bit wave file.\n";

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

}  // namespace

int main(int argc, char** argv) {
  qv::SimOptions options;
  options.sounds_dir = qv::FindSoundsDir();
  std::string script_path;
  std::string render_path;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
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
  if (!script_path.empty()) {
    std::ifstream in(script_path);
    if (!in) return Usage("cannot read script " + script_path);
    std::stringstream text;
    text << in.rdbuf();
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
  std::optional<qv::Render> render;
  if (file) {
    render.emplace(machine, options.sounds_dir,
                   [&](const auto& stems, size_t frames) { file->Add(stems, frames); });
  }
  qv::IniStore settings(options.settings_path);
  qv::Program pg(machine.Parts(), settings, &log);
  int status = 0;
  try {
    qv::Main(pg);
  } catch (const qv::ProgramEnded& ended) {
    status = ended.status == 0 ? 0 : 1;
  } catch (const qv::UntilReached&) {
    status = 3;
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

// support.cpp -- the virtual world used by the scenario tests.
#include "support.h"

#include <cmath>
#include <random>
#include <stdexcept>

#include "menu/sound_tour.h"
#include "platform/wave_file.h"
#include "startup/startup.h"
#include "store/scramble.h"

namespace qv::test {

TempDir::TempDir() {
  static int counter = 0;
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("qv-test-" + std::to_string(rd()) + "-" + std::to_string(++counter));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteWav(const std::string& path, uint32_t ms, uint32_t rate, uint16_t channels) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  const uint32_t frames = static_cast<uint32_t>(static_cast<uint64_t>(rate) * ms / 1000);
  std::vector<int16_t> samples(size_t{frames} * channels);
  for (uint32_t i = 0; i < frames; ++i) {
    auto s = static_cast<int16_t>(3000 * std::sin(2 * M_PI * 440.0 * i / rate));
    for (uint16_t c = 0; c < channels; ++c) samples[size_t{i} * channels + c] = s;
  }
  WriteWave(path, rate, channels, samples.data(), frames);
}

const std::vector<std::string> kBankFiles = {
    "menumusic.wav", "level1.wav",     "level2.wav",    "gun.wav",
    "glass.wav",     "land.wav",       "recharge.wav",  "launch.wav",
    "warning.wav",   "empty.wav",      "locked.wav",    "bonusFall.wav",
    "bonushit.wav",  "BonusMusic.wav", "BonusLand.wav", "bonusmiss.wav"};

void WriteSoundSet(const std::string& dir, uint32_t ms, uint32_t empty_ms, uint32_t intro_ms) {
  for (const std::string& f : kBankFiles) WriteWav(dir + "/" + f, ms);
  WriteWav(dir + "/empty.wav", empty_ms);
  WriteWav(dir + "/intro.wav", intro_ms);
  // Every announcement the menus and games play.
  for (const char* f :
       {"menuprompt.wav",   "ending.wav",    "clear.wav",    "points.wav",   "startgame.wav",
        "calSpeakers.wav",  "sendscore.wav", "exit.wav",     "cal.wav",      "difficulty.wav",
        "diff1.wav",        "diff2.wav",     "diff3.wav",    "siren.wav",    "highscoreis.wav",
        "highscore.wav",    "el.wav",        "win.wav",      "gameover.wav", "final.wav",
        "bonuswelcome.wav", "go.wav",        "Sendwait.wav", "SendGood.wav", "senderror.wav"}) {
    WriteWav(dir + "/" + f, ms);
  }
  for (const TourItem& item : SoundTourItems()) WriteWav(dir + "/" + item.words, ms);
  for (int n = 0; n <= 19; ++n) WriteWav(dir + "/numbers/sn" + std::to_string(n) + ".wav", ms);
  for (int n = 20; n <= 90; n += 10) WriteWav(dir + "/numbers/sn" + std::to_string(n) + ".wav", ms);
  WriteWav(dir + "/numbers/hundred.wav", ms);
  WriteWav(dir + "/numbers/thousand.wav", ms);
}

namespace {
SimOptions Prepare(SimOptions o, const TempDir& dir, bool write_sounds) {
  if (o.sounds_dir.empty()) o.sounds_dir = (dir.path() / "sounds").string();
  if (write_sounds) WriteSoundSet(o.sounds_dir);
  return o;
}
}  // namespace

World::World(SimOptions options, bool write_sounds, bool record)
    : opts(Prepare(std::move(options), dir, write_sounds)),
      machine(opts),
      driver(machine, log, opts),
      settings(opts.settings_path),
      recorder(machine.Parts(), opts.sounds_dir),
      pg(record ? recorder.Parts() : machine.Parts(), settings, &log) {
  log.Follow(machine.Parts());
  if (!record) return;
  pg.recorder = &recorder;
  pg.keep_replay = [this](const std::string& bytes, const ReplayOutcome&, bool) {
    replays.push_back(bytes);
  };
}

int World::Run() {
  try {
    Main(pg);
  } catch (const ProgramEnded& e) {
    return e.status;
  } catch (const UntilReached&) {
    return -1;
  }
}

std::vector<std::string> World::Events(const std::vector<std::string>& ops) const {
  std::vector<std::string> out;
  for (const LogEntry& e : log.Entries()) {
    bool wanted = ops.empty();
    for (const std::string& op : ops) wanted = wanted || e.op == op;
    if (wanted) out.push_back(e.op + " " + e.subject);
  }
  return out;
}

int World::Find(const std::string& op, const std::string& subject, size_t from) const {
  const auto& entries = log.Entries();
  for (size_t i = from; i < entries.size(); ++i) {
    if (entries[i].op == op && entries[i].subject == subject) return static_cast<int>(i);
  }
  return -1;
}

SimOptions WithScript(const std::string& script_text) {
  std::string error;
  auto script = ParseScript(script_text, &error);
  if (!script) throw std::runtime_error("bad test script: " + error);
  SimOptions o;
  o.script = *script;
  return o;
}

std::string HighScoreFile(const std::string& score, int difficulty) {
  return "[QuorVane/Settings]\nHighScore=" + ScrambleWithKey(score, 3) +
         "\nDifficulty=" + ScrambleWithKey(std::to_string(difficulty), 5) + "\n";
}

}  // namespace qv::test

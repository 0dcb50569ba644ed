// mix_figures.cpp -- a session rendered in stems, its power kept per millisecond, and the
// figures read from it at the moments the sound log names.
#include "mix_figures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>

#include "platform/wave_file.h"
#include "render_file.h"
#include "startup/program.h"
#include "startup/startup.h"
#include "store/ini_store.h"

namespace qv {

namespace {

enum Stem { kSpeech, kMusic, kLaunch, kEffects, kStems };

int StemOf(const std::string& file) {
  static const std::set<std::string> music = {"menumusic.wav", "level1.wav", "level2.wav",
                                              "BonusMusic.wav"};
  static const std::set<std::string> effects = {
      "gun.wav",    "glass.wav", "land.wav",      "recharge.wav", "warning.wav",   "empty.wav",
      "locked.wav", "siren.wav", "bonusFall.wav", "bonushit.wav", "BonusLand.wav", "bonusmiss.wav"};
  if (music.count(file) != 0) return kMusic;
  if (file == "launch.wav") return kLaunch;
  if (effects.count(file) != 0) return kEffects;
  return kSpeech;
}

// One millisecond's energy (sum of squares) in each channel of the speech, of the music, of
// the launch, of all that is not speech mixed together, and of the whole mix.
struct Power {
  std::array<float, 2> speech{}, music{}, launch{}, rest{}, mix{};
};

double Db(double ratio) { return 10.0 * std::log10(ratio); }

// The render as it comes, kept as energies per millisecond, with the whole mix's peak and
// the samples at full scale.
struct Analysis {
  void Add(const std::vector<std::vector<float>>& stems, size_t frames) {
    Power p;
    for (size_t i = 0; i < frames && keep != nullptr; ++i) {
      float speech = 0, mix = 0;
      for (size_t c = 0; c < 2; ++c) {
        speech += stems[kSpeech][2 * i + c];
        for (size_t s = 0; s < kStems; ++s) mix += stems[s][2 * i + c];
      }
      auto sample = [](float v) {
        return static_cast<int16_t>(std::lround(std::clamp(v * 0.5f, -1.0f, 1.0f) * 32767));
      };
      keep->speech_audio.push_back(sample(speech));
      keep->mix_audio.push_back(sample(mix));
    }
    for (size_t i = 0; i < frames; ++i) {
      for (size_t c = 0; c < 2; ++c) {
        const size_t at = 2 * i + c;
        const float speech = stems[kSpeech][at];
        const float rest = stems[kMusic][at] + stems[kLaunch][at] + stems[kEffects][at];
        const float mix = speech + rest;
        p.speech[c] += speech * speech;
        p.music[c] += stems[kMusic][at] * stems[kMusic][at];
        p.launch[c] += stems[kLaunch][at] * stems[kLaunch][at];
        p.rest[c] += rest * rest;
        p.mix[c] += mix * mix;
        if (std::fabs(mix) > peak) {
          peak = std::fabs(mix);
          peak_ms = static_cast<uint32_t>(ms.size());
        }
        constexpr float kFull = 32766.5f / 32767.0f;  // rounds to the largest 16-bit sample
        if (std::fabs(mix) >= kFull) ++full_scale;
      }
    }
    ms.push_back(p);
  }

  // Energy of one field over milliseconds [from, to), in the given channels.
  double Sum(std::array<float, 2> Power::*field, uint32_t from, uint32_t to, bool left,
             bool right) const {
    double sum = 0;
    to = std::min<uint32_t>(to, static_cast<uint32_t>(ms.size()));
    for (uint32_t t = from; t < to; ++t) {
      if (left) sum += (ms[t].*field)[0];
      if (right) sum += (ms[t].*field)[1];
    }
    return sum;
  }

  // Speech over the rest, over the voiced 50 ms windows of [from, to): those within 30 dB of
  // the loudest, as the sound set levels its speech.
  double SpeechOverRest(uint32_t from, uint32_t to, bool* alone) const {
    std::vector<std::pair<double, double>> windows;  // speech, rest
    for (uint32_t w = from; w < to; w += 50) {
      const uint32_t end = to - w < 100 ? to : w + 50;  // a short remainder joins the last
      windows.push_back(
          {Sum(&Power::speech, w, end, true, true), Sum(&Power::rest, w, end, true, true)});
      if (end == to) break;
    }
    double loudest = 0;
    for (const auto& [s, r] : windows) loudest = std::max(loudest, s);
    double speech = 0, rest = 0;
    for (const auto& [s, r] : windows) {
      if (s < loudest * 1e-3) continue;
      speech += s;
      rest += r;
    }
    *alone = rest <= 0;
    return *alone ? kAloneDb : Db(speech / rest);
  }

  std::vector<Power> ms;
  MixFigures* keep = nullptr;  // where the audio goes, when it is kept
  uint64_t full_scale = 0;
  float peak = 0;
  uint32_t peak_ms = 0;
};

std::string Word(const std::string& file) {
  std::string w = file.rfind("numbers/", 0) == 0 ? file.substr(8) : file;
  return w.size() > 4 ? w.substr(0, w.size() - 4) : w;
}

}  // namespace

MixFigures MeasureMix(const SimOptions& options, bool keep_audio) {
  MixFigures out;
  Analysis analysis;
  if (keep_audio) analysis.keep = &out;
  SoundLog log;
  VirtualPlatform machine(options);
  SimDriver driver(machine, log, options);
  log.Follow(machine.Parts());
  VirtualRender render(
      machine, options.sounds_dir,
      [&](const auto& stems, size_t frames) { analysis.Add(stems, frames); }, kStems, StemOf);
  IniStore settings(options.settings_path);
  Program pg(machine.Parts(), settings, &log);
  try {
    Main(pg);
  } catch (const ProgramEnded& ended) {
    out.status = ended.status;
  } catch (const UntilReached&) {
    out.status = -1;
  }
  out.ms = machine.Elapsed();
  out.full_scale = analysis.full_scale;
  out.peak_db = analysis.peak > 0 ? 20.0 * std::log10(analysis.peak) : -200.0;
  out.peak_ms = analysis.peak_ms;

  std::map<std::string, uint32_t> lengths;  // file -> ms it plays at its own rate
  auto length = [&](const std::string& file) {
    auto [it, fresh] = lengths.try_emplace(file, 0);
    if (fresh) {
      const WaveFormat f = ReadWaveFormat(options.sounds_dir + "/" + file);
      it->second = static_cast<uint32_t>((uint64_t{f.frames} * 1000 + f.rate - 1) / f.rate);
    }
    return it->second;
  };
  struct Span {
    PhraseFigure figure;
    uint32_t end;
  };
  std::vector<Span> phrases;
  bool in_play = false;
  std::map<int, int> pans;
  std::map<int, bool> rewound;
  for (const LogEntry& e : log.Entries()) {
    if (e.op == "pan") pans[e.id] = std::stoi(e.value);
    if (e.op == "position") rewound[e.id] = e.value == "0";
    if (e.op != "play") continue;
    // A game runs from its siren, a bonus round from its "go", to the menu's music again.
    if (e.subject == "siren.wav" || e.subject == "go.wav") in_play = true;
    if (e.subject == "menumusic.wav") in_play = false;
    if (e.subject == "launch.wav" && rewound[e.id]) {
      rewound[e.id] = false;
      LaunchFigure l;
      l.ms = e.ms;
      l.pan = pans[e.id];
      const bool left = l.pan <= 0, right = l.pan >= 0;
      const uint32_t to = e.ms + 100;
      l.over_music_db = Db(analysis.Sum(&Power::launch, e.ms, to, left, right) /
                           analysis.Sum(&Power::music, e.ms, to, left, right));
      if (l.pan != 0) {
        l.near_over_far_db = Db(analysis.Sum(&Power::mix, e.ms, to, left, right) /
                                analysis.Sum(&Power::mix, e.ms, to, right, left));
      }
      out.launches.push_back(l);
    }
    if (!in_play || StemOf(e.subject) != kSpeech) continue;
    const bool follows = e.subject.rfind("numbers/", 0) == 0 || e.subject == "points.wav";
    if (follows && !phrases.empty() && e.ms <= phrases.back().end + 100) {
      phrases.back().figure.words += " " + Word(e.subject);
      phrases.back().end = e.ms + length(e.subject);
    } else {
      phrases.push_back({PhraseFigure{e.ms, Word(e.subject)}, e.ms + length(e.subject)});
    }
  }
  for (Span& p : phrases) {
    p.figure.over_db = analysis.SpeechOverRest(p.figure.ms, p.end, &p.figure.alone);
    p.figure.end_ms = p.end;
    out.phrases.push_back(p.figure);
  }
  return out;
}

Sessions MeasureLostAndWon(const std::string& sounds_dir, const std::string& settings_path,
                           bool keep_audio) {
  // From the menu into a game of difficulty 1; S, H and L in play; to the menu after its
  // final score.
  const std::string game =
      "sleep 300\ntap Space\nwait play menuprompt.wav\ntap Return\nwait play difficulty.wav\n"
      "tap Return\nwait play level1.wav\nsleep 15000\ntap S\nsleep 25000\ntap H\n"
      "sleep 30000\ntap L\nsleep 60000\ntap S\nwait play final.wav\n"
      "wait play menuprompt.wav\n";
  const std::string bonus =
      "wait release menuprompt.wav\ntap B\nwait play final.wav\nwait play menuprompt.wav\n";
  auto run = [&](const std::string& script, int bot_ms) {
    SimOptions o;
    o.sounds_dir = sounds_dir;
    o.settings_path = settings_path;
    o.bot_ms = bot_ms;
    o.until_ms = 1200000;
    std::string error;
    o.script = *ParseScript(script + "tap Escape\n", &error);
    return MeasureMix(o, keep_audio);
  };
  Sessions s;
  s.lost = run(game, 1000);
  s.won = run(game + bonus, 200);
  return s;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Lowest(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

}  // namespace qv

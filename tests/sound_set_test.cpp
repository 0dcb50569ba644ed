// Checks the committed sound set: every file the game loads is there, plain 16-bit 22050 Hz PCM,
// long enough, loud enough and balanced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "../tools/soundgen/loudness.h"
#include "menu/sound_tour.h"
#include "mix_figures.h"
#include "platform/wave_file.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using qvsound::IntegratedLoudness;
using qvsound::PeakDbfs;
using qvsound::VoicedRmsDbfs;

enum class Kind { Speech, Number, Effect, Music };

// Every wave file the game plays, by its path under sounds/.
const std::map<std::string, Kind>& ExpectedSounds() {
  static const std::map<std::string, Kind> sounds = [] {
    std::map<std::string, Kind> m;
    for (const char* name : {"intro",    "menuprompt", "startgame", "calSpeakers",  "sendscore",
                             "exit",     "difficulty", "diff1",     "diff2",        "diff3",
                             "clear",    "points",     "highscore", "highscoreis",  "el",
                             "win",      "gameover",   "final",     "bonuswelcome", "go",
                             "Sendwait", "SendGood",   "senderror", "ending",       "cal"})
      m[std::string(name) + ".wav"] = Kind::Speech;
    for (int n = 0; n < 20; ++n) m["numbers/sn" + std::to_string(n) + ".wav"] = Kind::Number;
    for (int n = 20; n <= 90; n += 10) m["numbers/sn" + std::to_string(n) + ".wav"] = Kind::Number;
    m["numbers/hundred.wav"] = Kind::Number;
    m["numbers/thousand.wav"] = Kind::Number;
    for (const char* name : {"gun", "glass", "land", "launch", "recharge", "warning", "empty",
                             "locked", "siren", "bonusFall", "bonushit", "BonusLand", "bonusmiss"})
      m[std::string(name) + ".wav"] = Kind::Effect;
    for (const char* name : {"menumusic", "level1", "level2", "BonusMusic"})
      m[std::string(name) + ".wav"] = Kind::Music;
    for (const qv::TourItem& item : qv::SoundTourItems()) m[item.words] = Kind::Speech;
    return m;
  }();
  return sounds;
}

const fs::path kSoundDir = fs::path(QV_SOURCE_DIR) / "sounds";

struct Wave {
  qv::WaveFormat format;
  bool plain = false;  // nothing but a 16-byte "fmt " and the "data" chunk
  int rate = 0;
  std::vector<std::vector<double>> ch;  // samples in -1..1
  double seconds() const { return ch.empty() ? 0.0 : double(ch[0].size()) / rate; }
};

// Reads a wave file with the game's reader; on a broken file, records a failure.
Wave ReadSound(const fs::path& path) {
  Wave w;
  try {
    w.format = qv::ReadWaveFormat(path.string());
    const qv::PcmFloat p = qv::ReadWaveFloat(path.string());
    w.rate = int(p.rate);
    w.ch.assign(p.channels, std::vector<double>(p.frames()));
    for (std::size_t f = 0; f < p.frames(); ++f)
      for (std::size_t c = 0; c < p.channels; ++c) w.ch[c][f] = p.samples[f * p.channels + c];
  } catch (const qv::WaveError& e) {
    ADD_FAILURE() << path << ": " << e.what();
  }
  const std::uintmax_t data = std::uintmax_t{w.format.frames} * w.format.channels * 2;
  w.plain = fs::file_size(path) == 44 + data;
  return w;
}

// All expected sounds, read once for the whole suite.
const std::map<std::string, Wave>& Waves() {
  static const std::map<std::string, Wave> all = [] {
    std::map<std::string, Wave> m;
    for (const auto& [name, kind] : ExpectedSounds())
      if (fs::exists(kSoundDir / name)) m[name] = ReadSound(kSoundDir / name);
    return m;
  }();
  return all;
}

double Loudness(const Wave& w) { return IntegratedLoudness(w.ch, w.rate); }

// "Silence" here is any sample quieter than -40 dBFS.
constexpr double kSilence = 0.01;

double LeadingSilence(const std::vector<double>& x, int rate) {
  std::size_t i = 0;
  while (i < x.size() && std::fabs(x[i]) < kSilence) ++i;
  return double(i) / rate;
}

TEST(SoundSet, FolderHoldsExactlyTheSoundsTheGamePlays) {
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(kSoundDir))
    if (entry.is_regular_file())
      found.insert(entry.path().lexically_relative(kSoundDir).generic_string());
  std::set<std::string> expected;
  for (const auto& [name, kind] : ExpectedSounds()) expected.insert(name);
  EXPECT_EQ(expected.size(), 96u);
  for (const auto& name : expected) EXPECT_TRUE(found.count(name)) << "missing: sounds/" << name;
  for (const auto& name : found)
    EXPECT_TRUE(expected.count(name)) << "never played: sounds/" << name;
}

// Plain 16-bit PCM, and every file starts and ends within 64 of zero: a sound that starts or
// stops with a step clicks.
TEST(SoundSet, EveryFileIsPlainMono16BitPcmAt22050StartingAndEndingAtZero) {
  ASSERT_EQ(Waves().size(), ExpectedSounds().size());
  for (const auto& [name, w] : Waves()) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(w.plain);
    EXPECT_FALSE(w.format.is_float);
    EXPECT_EQ(w.format.bits, 16);
    EXPECT_EQ(w.rate, 22050);
    EXPECT_EQ(w.format.channels, name == "cal.wav" ? 2 : 1);
    EXPECT_GT(w.seconds(), 0.05);
    for (const auto& c : w.ch) {
      EXPECT_LE(std::fabs(c.front()) * 32768, 64.0);
      EXPECT_LE(std::fabs(c.back()) * 32768, 64.0);
    }
  }
}

TEST(SoundSet, LengthsFitHowTheGamePlaysThem) {
  const auto& all = Waves();
  ASSERT_EQ(all.size(), ExpectedSounds().size());
  // The launch sound plays at up to 28999 Hz and must outlast a 1500 ms flight.
  EXPECT_GE(all.at("launch.wav").seconds() * 22050.0 / 28999.0, 1.5);
  EXPECT_GE(all.at("bonusFall.wav").seconds(), 3.2);
  EXPECT_LT(all.at("intro.wav").seconds(), 60.0);
  for (const auto& [name, kind] : ExpectedSounds()) {
    const Wave& w = all.at(name);
    SCOPED_TRACE(name);
    if (kind == Kind::Music) {
      EXPECT_GE(w.seconds(), 20.0);
    }
    if (name.starts_with("tour/")) {
      // A stop of the sound tour names its sound at once, however quickly the last was skipped.
      EXPECT_LE(w.seconds(), 20.0);
      EXPECT_LE(LeadingSilence(w.ch[0], w.rate), 0.1);
    }
    if (kind == Kind::Number) {
      // Number words are joined into readings: short, and no gap at either end.
      EXPECT_LE(w.seconds(), 0.9);
      std::vector<double> reversed(w.ch[0].rbegin(), w.ch[0].rend());
      EXPECT_LE(LeadingSilence(w.ch[0], w.rate), 0.030);
      EXPECT_LE(LeadingSilence(reversed, w.rate), 0.030);
    }
  }
  std::printf(
      "launch %.2f s, bonusFall %.2f s, menumusic %.2f s, level1 %.2f s, level2 %.2f s, BonusMusic "
      "%.2f s\n",
      all.at("launch.wav").seconds(), all.at("bonusFall.wav").seconds(),
      all.at("menumusic.wav").seconds(), all.at("level1.wav").seconds(),
      all.at("level2.wav").seconds(), all.at("BonusMusic.wav").seconds());
}

// The quietest and loudest file of a group by one measure.
struct Range {
  double low = 1e9, high = -1e9;
  std::string quietest, loudest;
  void Add(double level, const std::string& name) {
    if (level < low) low = level, quietest = name;
    if (level > high) high = level, loudest = name;
  }
};

// Each group is checked by the measure the generator levels it with: speech, number words included,
// by the RMS of its voiced 50 ms windows, effects and music by BS.1770 integrated loudness. Music
// is compared with each group of cues by that group's measure.
TEST(SoundSet, LevelsLeaveHeadroomKeepSpeechEvenAndMusicUnderneath) {
  ASSERT_EQ(Waves().size(), ExpectedSounds().size());
  Range speech, effects, music_lufs, music_rms;
  double loudest_peak = -200.0;
  std::uintmax_t bytes = 0;
  for (const auto& [name, kind] : ExpectedSounds()) {
    const Wave& w = Waves().at(name);
    const double peak = PeakDbfs(w.ch);
    EXPECT_LE(peak, -1.0) << name;
    loudest_peak = std::max(loudest_peak, peak);
    switch (kind) {
      case Kind::Speech:
      case Kind::Number:
        speech.Add(VoicedRmsDbfs(w.ch, w.rate), name);
        break;
      case Kind::Effect:
        effects.Add(Loudness(w), name);
        break;
      case Kind::Music:
        music_lufs.Add(Loudness(w), name);
        music_rms.Add(VoicedRmsDbfs(w.ch, w.rate), name);
        break;
    }
    bytes += fs::file_size(kSoundDir / name);
  }
  EXPECT_LE(speech.high - speech.low, 2.0)
      << "speech files differ too much in loudness: " << speech.quietest << " " << speech.low
      << " dBFS, " << speech.loudest << " " << speech.high << " dBFS";
  EXPECT_LE(music_rms.high, speech.low - 8.0) << "music not far enough under the speech";
  EXPECT_LE(music_lufs.high, effects.low - 8.0) << "music not far enough under the effects";
  EXPECT_LT(bytes, 20u * 1024 * 1024);
  std::printf(
      "speech voiced RMS %.2f (%s) .. %.2f (%s) dBFS, music %.2f..%.2f dBFS; effects %.2f..%.2f "
      "LUFS, music %.2f..%.2f LUFS; highest peak %.2f dBFS; %.2f MB\n",
      speech.low, speech.quietest.c_str(), speech.high, speech.loudest.c_str(), music_rms.low,
      music_rms.high, effects.low, effects.high, music_lufs.low, music_lufs.high, loudest_peak,
      double(bytes) / 1e6);
}

// A looping piece must run from its last sample into its first with no click and no gap: the
// jump across the seam is no bigger than twice the typical (root-mean-square) step between
// neighbouring samples within 20 ms of it, and neither end is faded out.
TEST(SoundSet, MusicLoopsSeamlessly) {
  for (const char* name : {"menumusic.wav", "level1.wav", "level2.wav", "BonusMusic.wav"}) {
    SCOPED_TRACE(name);
    const std::vector<double>& x = Waves().at(name).ch.at(0);
    const std::size_t n = x.size(), near = 441;  // 20 ms
    ASSERT_GT(n, 10 * near);
    double steps = 0.0;
    for (std::size_t i = 1; i < near; ++i)
      steps += std::pow(x[i] - x[i - 1], 2) + std::pow(x[n - i] - x[n - i - 1], 2);
    EXPECT_LE(std::fabs(x[0] - x[n - 1]), 2.0 * std::sqrt(steps / double(2 * (near - 1))));
    auto rms = [&](std::size_t from, std::size_t count) {
      double s = 0.0;
      for (std::size_t i = from; i < from + count; ++i) s += x[i] * x[i];
      return std::sqrt(s / double(count));
    };
    const double whole = rms(0, n), edge = 5 * near;  // 100 ms at each end
    EXPECT_GT(rms(0, edge), whole * 0.1) << "start fades in";
    EXPECT_GT(rms(n - edge, edge), whole * 0.1) << "end fades out";
  }
}

// The speaker check says "left" from the left only, "centre" from both and "right" from the right.
TEST(SoundSet, SpeakerCheckPlacesEachWordOnItsSide) {
  const Wave& w = Waves().at("cal.wav");
  ASSERT_EQ(w.ch.size(), 2u);
  // Split into words at gaps of at least 200 ms where both channels are silent.
  std::vector<std::pair<std::size_t, std::size_t>> words;
  std::size_t quiet = 0, gap = std::size_t(0.2 * w.rate);
  for (std::size_t i = 0; i < w.ch[0].size(); ++i) {
    const bool loud = std::fabs(w.ch[0][i]) >= kSilence || std::fabs(w.ch[1][i]) >= kSilence;
    if (loud) {
      if (words.empty() || quiet >= gap) words.push_back({i, i});
      words.back().second = i + 1;
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  ASSERT_EQ(words.size(), 3u);
  auto peak_of = [&](int c, std::pair<std::size_t, std::size_t> span) {
    double p = 0.0;
    for (std::size_t i = span.first; i < span.second; ++i) p = std::max(p, std::fabs(w.ch[c][i]));
    return p;
  };
  EXPECT_GT(peak_of(0, words[0]), 0.1);
  EXPECT_LT(peak_of(1, words[0]), kSilence);
  EXPECT_NEAR(peak_of(0, words[1]), peak_of(1, words[1]), 0.01);
  EXPECT_GT(peak_of(0, words[1]), 0.1);
  EXPECT_LT(peak_of(0, words[2]), kSilence);
  EXPECT_GT(peak_of(1, words[2]), 0.1);
}

// A lost game and a won one with the bonus round, rendered through the game's mixer at the
// game's volumes (tools/sim/mix_figures.h says how each figure is taken): speech stands clear of
// the play under it, each launch starts above the music on its own side, nothing reaches full
// scale.
TEST(SoundSet, GamesHeardThroughTheMixerKeepSpeechAndCuesClearAndNeverClip) {
  qv::test::TempDir d;
  const qv::Sessions s = qv::MeasureLostAndWon(kSoundDir.string(), d / "settings.ini");
  std::vector<double> over, onset;
  const qv::PhraseFigure* worst = nullptr;
  const qv::LaunchFigure *latest = nullptr, *least_sided = nullptr;
  for (const qv::MixFigures* f : {&s.lost, &s.won}) {
    EXPECT_EQ(f->status, 0) << "a session did not end as its script says";
    EXPECT_EQ(f->full_scale, 0u) << "peak " << f->peak_db << " dBFS at " << f->peak_ms << " ms";
    for (const qv::PhraseFigure& p : f->phrases) {
      over.push_back(p.over_db);
      if (!worst || p.over_db < worst->over_db) worst = &p;
    }
    for (const qv::LaunchFigure& l : f->launches) {
      onset.push_back(l.over_music_db);
      if (!latest || l.over_music_db < latest->over_music_db) latest = &l;
      if (l.pan != 0 && (!least_sided || l.near_over_far_db < least_sided->near_over_far_db))
        least_sided = &l;
    }
  }
  ASSERT_GE(over.size(), 25u);
  ASSERT_GE(onset.size(), 200u);
  ASSERT_TRUE(least_sided);
  EXPECT_GE(qv::Median(over), 18.0);
  EXPECT_GE(worst->over_db, 10.0) << worst->words << " at " << worst->ms << " ms";
  EXPECT_GE(qv::Median(onset), 6.0);
  EXPECT_GE(latest->over_music_db, 0.0) << "launch at " << latest->ms << " ms";
  EXPECT_GE(least_sided->near_over_far_db, 6.0) << "launch at " << least_sided->ms << " ms";
  std::printf(
      "speech over play: median %.1f dB, lowest %.1f; launch over the music: median %.1f "
      "dB, lowest %.1f; near over far: lowest %.1f dB; peaks %.2f and %.2f dBFS\n",
      qv::Median(over), worst->over_db, qv::Median(onset), latest->over_music_db,
      least_sided->near_over_far_db, s.lost.peak_db, s.won.peak_db);
}

constexpr double kTestRate = 22050;

// A 997 Hz sine of the given length and amplitude at kTestRate.
std::vector<double> Sine(double seconds, double amplitude) {
  std::vector<double> x(std::size_t(seconds * kTestRate));
  for (std::size_t i = 0; i < x.size(); ++i)
    x[i] = amplitude * std::sin(2 * qvsound::kPi * 997.0 * double(i) / kTestRate);
  return x;
}

// Pieces laid end to end.
std::vector<double> Join(std::initializer_list<std::vector<double>> pieces) {
  std::vector<double> x;
  for (const auto& p : pieces) x.insert(x.end(), p.begin(), p.end());
  return x;
}

// The loudness measure itself, against figures BS.1770 states: a full-scale 997 Hz sine reads
// -3.01 LUFS on one channel; the same on two channels is 3 dB louder; long silence around a
// sound is gated away; a sound shorter than one 400 ms block is still measured.
TEST(SoundSet, LoudnessMeasureMatchesKnownFigures) {
  const double rate = kTestRate;
  EXPECT_NEAR(IntegratedLoudness({Sine(3, 1.0)}, rate), -3.01, 0.05);
  EXPECT_NEAR(IntegratedLoudness({Sine(3, 0.1)}, rate), -23.01, 0.05);
  EXPECT_NEAR(IntegratedLoudness({Sine(3, 0.1), Sine(3, 0.1)}, rate), -20.0, 0.05);
  std::vector<double> padded(std::size_t(4 * rate), 0.0);
  const auto tone = Sine(2, 0.1);
  std::copy(tone.begin(), tone.end(), padded.begin() + std::ptrdiff_t(rate));
  // Only the blocks that straddle the edges pull it down; without gating it would read -26.02.
  const double gated = IntegratedLoudness({padded}, rate);
  EXPECT_GT(gated, -24.0);
  EXPECT_LT(gated, -23.0);
  EXPECT_NEAR(IntegratedLoudness({Sine(0.2, 0.1)}, rate), -23.01, 0.3);
  EXPECT_LT(IntegratedLoudness({std::vector<double>(22050, 0.0)}, rate), -150.0);
}

// The voiced-window RMS on signals whose figure is known: a sine of amplitude A reads
// 20*log10(A/sqrt(2)) however much silence surrounds it (a plain RMS would read it 3 dB lower
// here), a part 20 dB down counts and one 40 dB down does not, channel powers add, and a sound
// shorter than one window is still measured. Windows straddling an edge may hold some silence, so
// the figures are met to within 0.05 dB (0.1 dB where a window straddles two levels).
TEST(SoundSet, VoicedRmsMeasureMatchesKnownFigures) {
  const double rate = kTestRate, a = 0.25, sine_db = 20.0 * std::log10(a / std::sqrt(2.0));
  const auto silence = [](double seconds) {
    return std::vector<double>(std::size_t(seconds * kTestRate), 0.0);
  };
  EXPECT_NEAR(VoicedRmsDbfs({Sine(10, a)}, rate), sine_db, 0.01);
  EXPECT_NEAR(VoicedRmsDbfs({Join({silence(5.01), Sine(10, a), silence(5)})}, rate), sine_db, 0.05);
  // Loud, 20 dB down, 40 dB down: the mean of the first two powers.
  const auto steps = Join({Sine(5, a), Sine(5, a / 10), Sine(5, a / 100)});
  EXPECT_NEAR(VoicedRmsDbfs({steps}, rate), sine_db + 10.0 * std::log10(1.01 / 2.0), 0.1);
  EXPECT_NEAR(VoicedRmsDbfs({Sine(2, a), Sine(2, a)}, rate), sine_db + 3.01, 0.01);
  EXPECT_NEAR(VoicedRmsDbfs({Sine(2, a), silence(2)}, rate), sine_db, 0.01);
  EXPECT_NEAR(VoicedRmsDbfs({Sine(0.02, a)}, rate), sine_db, 0.1);
  EXPECT_LT(VoicedRmsDbfs({silence(1)}, rate), -150.0);
}

}  // namespace

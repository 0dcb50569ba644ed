// Command-line tool behind tools/make_sounds.sh: makes effects and MIDI, and trims, loops, levels
// and measures waves.
#include "soundgen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "loudness.h"
#include "platform/wave_file.h"

namespace qvsound {
namespace {

[[noreturn]] void Fail(const std::string& msg) {
  std::fprintf(stderr, "soundgen: %s\n", msg.c_str());
  std::exit(1);
}

}  // namespace

Audio ReadWav(const std::string& path) {
  qv::PcmFloat p;
  try {
    p = qv::ReadWaveFloat(path);
  } catch (const qv::WaveError& e) {
    Fail(path + ": " + e.what());
  }
  Audio a;
  a.rate = static_cast<int>(p.rate);
  a.ch.assign(p.channels, std::vector<double>(p.frames()));
  for (std::size_t f = 0; f < p.frames(); ++f)
    for (std::size_t c = 0; c < p.channels; ++c) a.ch[c][f] = p.samples[f * p.channels + c];
  return a;
}

void WriteWav(const std::string& path, const Audio& a) {
  qv::PcmFloat p;
  p.rate = static_cast<std::uint32_t>(a.rate);
  p.channels = static_cast<std::uint16_t>(a.ch.size());
  p.samples.resize(a.frames() * a.ch.size());
  for (std::size_t f = 0; f < a.frames(); ++f)
    for (std::size_t c = 0; c < a.ch.size(); ++c)
      p.samples[f * a.ch.size() + c] = static_cast<float>(a.ch[c][f]);
  try {
    qv::WriteWave(path, p);
  } catch (const qv::WaveError& e) {
    Fail(e.what());
  }
}

namespace {

void Scale(Audio& a, double g) {
  for (auto& c : a.ch)
    for (double& v : c) v *= g;
}

// Peak limiter: the gain each sample needs is spread by a sliding minimum and then a box average
// of the same width, so the gain never exceeds what any sample needs yet moves in smooth ramps.
void Limit(Audio& a, double ceiling_db) {
  const double ceiling = std::pow(10.0, ceiling_db / 20.0);
  const std::size_t n = a.frames();
  std::vector<double> need(n, 1.0);
  bool any = false;
  for (const auto& c : a.ch)
    for (std::size_t i = 0; i < n; ++i)
      if (std::fabs(c[i]) > ceiling) {
        need[i] = std::min(need[i], ceiling / std::fabs(c[i]));
        any = true;
      }
  if (!any) return;
  const long w = 44;  // 2 ms either side
  auto window = [&](const std::vector<double>& v, bool minimum) {
    std::vector<double> out(n);
    for (long i = 0; i < long(n); ++i) {
      double acc = minimum ? 1.0 : 0.0;
      for (long k = i - w; k <= i + w; ++k) {
        const double x = (k < 0 || k >= long(n)) ? 1.0 : v[k];
        acc = minimum ? std::min(acc, x) : acc + x;
      }
      out[i] = minimum ? acc : acc / double(2 * w + 1);
    }
    return out;
  };
  const std::vector<double> gain = window(window(need, true), false);
  for (auto& c : a.ch)
    for (std::size_t i = 0; i < n; ++i) c[i] *= gain[i];
}

// Brings the integrated loudness to target (LUFS), limiting peaks to ceiling (dBFS); a few rounds
// because limiting lowers the loudness slightly.
void Level(Audio& a, double target, double ceiling) {
  for (int round = 0; round < 4; ++round) {
    const double now = IntegratedLoudness(a.ch, a.rate);
    if (now < -150.0) Fail("cannot level digital silence");
    Scale(a, std::pow(10.0, (target - now) / 20.0));
    Limit(a, ceiling);
  }
}

// Brings the voiced RMS (see loudness.h) to target (dBFS), limiting peaks, for speech: every
// spoken file and number word is levelled to one figure, so none stands out from the others.
// Limiting lowers the figure a little, so the gain is corrected until it lands within 0.01 dB.
// A file that limiting keeps from reaching the target stops the run: its words would sound
// quieter than the rest, and the way out is a lower common target, not a file left low.
void LevelSpeech(Audio& a, double target, double ceiling) {
  double now = VoicedRmsDbfs(a.ch, a.rate);
  if (now < -150.0) Fail("cannot level digital silence");
  for (int round = 0; round < 12 && std::fabs(target - now) > 0.01; ++round) {
    Scale(a, std::pow(10.0, (target - now) / 20.0));
    Limit(a, ceiling);
    now = VoicedRmsDbfs(a.ch, a.rate);
  }
  if (std::fabs(target - now) > 0.05) {
    char msg[160];
    std::snprintf(msg, sizeof msg,
                  "speech reaches only %.2f of %.2f dBFS voiced RMS under the %.1f dBFS peak "
                  "ceiling; lower the speech target",
                  now, target, ceiling);
    Fail(msg);
  }
}

Audio Mono(const Audio& a) {
  Audio m;
  m.rate = a.rate;
  m.ch.assign(1, std::vector<double>(a.frames(), 0.0));
  for (const auto& c : a.ch)
    for (std::size_t i = 0; i < a.frames(); ++i) m.ch[0][i] += c[i] / double(a.ch.size());
  return m;
}

constexpr double kSilence = 0.01;  // -40 dBFS: quieter ends of speech are silence and trimmed

// Cuts the silence (samples below `threshold`) at both ends down to `margin_ms`, with short fades
// inside the margins so the cut makes no click.
void Trim(Audio& a, double margin_ms, double threshold) {
  auto& x = a.ch[0];
  std::size_t first = 0, last = x.size();
  while (first < x.size() && std::fabs(x[first]) < threshold) ++first;
  while (last > first && std::fabs(x[last - 1]) < threshold) --last;
  const std::size_t margin = static_cast<std::size_t>(margin_ms * a.rate / 1000.0);
  first = first > margin ? first - margin : 0;
  last = std::min(x.size(), last + margin);
  x = std::vector<double>(x.begin() + long(first), x.begin() + long(last));
  const std::size_t fade = std::min(margin, x.size() / 2);
  for (std::size_t i = 0; i < fade; ++i) {
    const double g = double(i) / double(fade);
    x[i] *= g;
    x[x.size() - 1 - i] *= g;
  }
}

// Trims speech as it will sound once levelled to target: the ends below kSilence in the levelled
// file go. Trimming moves the 50 ms windows of the level measure, which shifts a short word's
// figure by up to a decibel, so the trim is redone at the gain the trimmed sound needs until that
// gain stops falling (by more than 0.01 dB); otherwise a soft first consonant such as the f of
// "five" could drop under kSilence and leave a gap before the word. Limiting afterwards only
// raises the quiet ends further.
Audio TrimForLevel(const Audio& a, double target, double margin_ms) {
  auto gain_for = [&](const Audio& x) {
    return std::pow(10.0, (target - VoicedRmsDbfs(x.ch, x.rate)) / 20.0);
  };
  double gain = gain_for(a);
  if (gain > 1e9) Fail("cannot level digital silence");
  Audio t;
  for (int pass = 0; pass < 8; ++pass) {
    t = a;
    Trim(t, margin_ms, kSilence / gain);
    const double next = gain_for(t);
    if (next >= gain * 0.999) break;
    gain = next;
  }
  return t;
}

// Turns a render of three passes of a loop into one seamless pass: the middle pass, whose last
// quarter second is cross-faded into the end of the first pass, which is exactly what precedes the
// start of the middle pass. So the file's last sample leads into its first as in the render.
Audio LoopOnce(const Audio& render, long loop) {
  const Audio m = Mono(render);
  const auto& x = m.ch[0];
  if (long(x.size()) < 2 * loop) Fail("music render shorter than two loops");
  const long fade = kRate / 4;
  Audio out;
  out.ch.assign(1, std::vector<double>(x.begin() + loop, x.begin() + 2 * loop));
  for (long k = 0; k < fade; ++k) {
    const double w = double(k + 1) / double(fade);
    out.ch[0][loop - fade + k] = (1.0 - w) * x[2 * loop - fade + k] + w * x[loop - fade + k];
  }
  return out;
}

// The largest value a file may start or end with: 64 of the 16-bit scale. A sound that starts or
// stops away from zero clicks as the player hears it begin or end.
constexpr double kEdge = 64.0 / 32768.0;

// Fades an effect in over its first millisecond (a shot keeps its attack) and out over its last
// ten, so it starts and ends at zero whatever its synthesis left there.
void FadeEdges(Audio& a) {
  const std::size_t in = kRate / 1000, out = kRate / 100;
  for (auto& c : a.ch) {
    const std::size_t n = c.size();
    for (std::size_t i = 0; i < std::min(in, n); ++i) c[i] *= double(i) / double(in);
    for (std::size_t i = 0; i < std::min(out, n); ++i) c[n - 1 - i] *= double(i) / double(out);
  }
}

// Turns a seamless loop so that it starts where its last and first samples are both nearest to
// zero, within the 30 ms before its downbeat: the file then starts and ends without a step, the
// downbeat is heard whole from the first play, and the loop is as seamless as before, since
// every turn of a seamless loop joins the same neighbours.
void StartAtZero(Audio& a) {
  auto& x = a.ch[0];
  const long n = long(x.size()), search = kRate * 30 / 1000;
  long best = 0;
  double best_edge = 1e9;
  for (long back = 0; back <= search; ++back) {
    const long first = (n - back) % n, last = (first + n - 1) % n;
    const double edge = std::max(std::fabs(x[first]), std::fabs(x[last]));
    if (edge < best_edge) best_edge = edge, best = first;
  }
  if (best_edge > kEdge) Fail("no loop start near zero within 30 ms of the downbeat");
  std::rotate(x.begin(), x.begin() + best, x.end());
}

double Arg(const char* s) { return std::strtod(s, nullptr); }

int Usage() {
  std::fprintf(stderr,
               "usage: soundgen fx NAME OUT.wav LUFS PEAK_DBFS\n"
               "       soundgen midi NAME OUT.mid\n"
               "       soundgen loop NAME RENDER.wav OUT.wav LUFS PEAK_DBFS\n"
               "       soundgen speech IN.wav OUT.wav RMS_DBFS PEAK_DBFS MARGIN_MS [LEAD_MS]\n"
               "       soundgen cal LEFT.wav CENTRE.wav RIGHT.wav OUT.wav RMS_DBFS PEAK_DBFS\n"
               "       soundgen measure FILE...\n");
  return 2;
}

}  // namespace
}  // namespace qvsound

int main(int argc, char** argv) {
  using namespace qvsound;
  if (argc < 2) return Usage();
  const std::string cmd = argv[1];
  if (cmd == "fx" && argc == 6) {
    Audio a;
    if (!MakeEffect(argv[2], a)) Fail(std::string("unknown effect ") + argv[2]);
    Level(a, Arg(argv[4]), Arg(argv[5]));
    FadeEdges(a);
    WriteWav(argv[3], a);
  } else if (cmd == "midi" && argc == 4) {
    if (!WriteMusicMidi(argv[2], argv[3])) Fail(std::string("unknown music ") + argv[2]);
  } else if (cmd == "loop" && argc == 7) {
    Audio a = LoopOnce(ReadWav(argv[3]), MusicLoopSamples(argv[2]));
    Level(a, Arg(argv[5]), Arg(argv[6]));
    StartAtZero(a);
    WriteWav(argv[4], a);
  } else if (cmd == "speech" && (argc == 7 || argc == 8)) {
    Audio a = Mono(ReadWav(argv[2]));
    if (a.rate != kRate) Fail(std::string(argv[2]) + " is not at 22050 Hz");
    Audio t = TrimForLevel(a, Arg(argv[4]), Arg(argv[6]));
    // A lead-in of silence lets the effect that the game plays with this speech die away first.
    if (argc == 8) t.ch[0].insert(t.ch[0].begin(), std::size_t(Arg(argv[7]) * kRate / 1000), 0.0);
    LevelSpeech(t, Arg(argv[4]), Arg(argv[5]));
    WriteWav(argv[3], t);
  } else if (cmd == "cal" && argc == 8) {
    // "left" from the left speaker only, "centre" from both at -3 dB each (the same power as
    // one speaker), "right" from the right speaker only, with pauses between.
    Audio out;
    out.ch.assign(2, {});
    const double gains[3][2] = {{1.0, 0.0}, {std::sqrt(0.5), std::sqrt(0.5)}, {0.0, 1.0}};
    for (int w = 0; w < 3; ++w) {
      const Audio word = Mono(ReadWav(argv[2 + w]));
      for (int c = 0; c < 2; ++c) {
        for (double v : word.ch[0]) out.ch[c].push_back(v * gains[w][c]);
        if (w < 2) out.ch[c].insert(out.ch[c].end(), kRate * 6 / 10, 0.0);
      }
    }
    out.rate = kRate;
    LevelSpeech(out, Arg(argv[6]), Arg(argv[7]));
    WriteWav(argv[5], out);
  } else if (cmd == "measure" && argc >= 3) {
    for (int i = 2; i < argc; ++i) {
      const Audio a = ReadWav(argv[i]);
      std::printf("%-22s %d ch %6.2f s  %7.2f LUFS  voiced RMS %7.2f dBFS  peak %6.2f dBFS\n",
                  std::strrchr(argv[i], '/') ? std::strrchr(argv[i], '/') + 1 : argv[i],
                  int(a.ch.size()), double(a.frames()) / a.rate, IntegratedLoudness(a.ch, a.rate),
                  VoicedRmsDbfs(a.ch, a.rate), PeakDbfs(a.ch));
    }
  } else {
    return Usage();
  }
  return 0;
}

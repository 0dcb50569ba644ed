// Synthesises the game's sound effects sample by sample: noise, swept oscillators, filters and
// decays.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "soundgen.h"

namespace qvsound {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kFs = kRate;

using Buffer = std::vector<double>;

Buffer Silence(double seconds) { return Buffer(static_cast<std::size_t>(seconds * kFs), 0.0); }
double TimeOf(std::size_t i) { return double(i) / kFs; }

// Decaying exponential starting at t0 (zero before), with a 1 ms linear attack so nothing clicks.
double Decay(double t, double t0, double tau) {
  if (t < t0) return 0.0;
  const double d = t - t0;
  return std::min(1.0, d / 0.001) * std::exp(-d / tau);
}

// Fades of `in` and `out` seconds at the two ends of a sound of `len` seconds.
double Fades(double t, double len, double in, double out) {
  return std::clamp(std::min(t / in, (len - t) / out), 0.0, 1.0);
}

// Exponential glide from f0 to f1 over `len` seconds.
double Glide(double t, double len, double f0, double f1) {
  return f0 * std::pow(f1 / f0, std::clamp(t / len, 0.0, 1.0));
}

// State-variable filter (trapezoidal form), stable while its frequency moves every sample.
struct Svf {
  double ic1 = 0, ic2 = 0, low = 0, band = 0, high = 0;
  void Run(double x, double freq, double q) {
    const double g = std::tan(3.141592653589793 * std::min(freq, 0.45 * kFs) / kFs);
    const double k = 1.0 / q;
    const double a1 = 1.0 / (1.0 + g * (g + k)), a2 = g * a1, a3 = g * a2;
    const double v3 = x - ic2;
    const double v1 = a1 * ic1 + a2 * v3;
    const double v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2.0 * v1 - ic1;
    ic2 = 2.0 * v2 - ic2;
    low = v2;
    band = v1;
    high = x - k * v1 - v2;
  }
};

// Sine oscillator whose frequency may change every sample.
struct Osc {
  double phase = 0;
  double Sine(double freq) {
    phase += kTwoPi * freq / kFs;
    return std::sin(phase);
  }
  // Band-limited enough for our purposes: the first `n` odd harmonics of a square wave.
  double Square(double freq, int n) {
    phase += kTwoPi * freq / kFs;
    double s = 0;
    for (int h = 1; h <= 2 * n - 1; h += 2)
      if (h * freq < 0.45 * kFs) s += std::sin(h * phase) / h;
    return s;
  }
  // Sawtooth from its harmonics below the Nyquist limit.
  double Saw(double freq, int n) {
    phase += kTwoPi * freq / kFs;
    double s = 0;
    for (int h = 1; h <= n; ++h)
      if (h * freq < 0.45 * kFs) s += std::sin(h * phase) / h;
    return s;
  }
};

// A struck metal or wooden object: decaying sine partials at `freqs`, each a little quicker than
// the last.
void Strike(Buffer& b, double t0, double amp, std::initializer_list<double> freqs, double tau) {
  int n = 0;
  for (double f : freqs) {
    if (f >= 0.45 * kFs) continue;  // above what the rate can carry: it would fold back as noise
    const double a = amp / (1.0 + n), tt = tau / (1.0 + 0.4 * n);
    for (std::size_t i = std::size_t(t0 * kFs); i < b.size(); ++i) {
      const double d = TimeOf(i) - t0;
      if (d > 8 * tt) break;
      b[i] += a * Decay(d, 0, tt) * std::sin(kTwoPi * f * d);
    }
    ++n;
  }
}

// A burst of noise through a band-pass filter, decaying from t0.
void NoiseBurst(Buffer& b, Rng& rng, double t0, double amp, double freq, double q, double tau) {
  Svf f;
  for (std::size_t i = std::size_t(t0 * kFs); i < b.size(); ++i) {
    const double d = TimeOf(i) - t0;
    if (d > 8 * tau) break;
    f.Run(rng.Noise(), freq, q);
    b[i] += amp * Decay(d, 0, tau) * f.band;
  }
}

// A shot: a bright crack, a body of noise whose filter closes quickly, a low thump and a short
// room tail, gone within half a second so that speech asked for just after a shot is heard.
Buffer Gun() {
  Buffer b = Silence(0.5);
  Rng rng(1);
  Svf body, tail, crack;
  Osc thump;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = TimeOf(i);
    const double n = rng.Noise();
    crack.Run(n, 2500, 0.7);
    body.Run(n, Glide(t, 0.25, 5000, 250), 0.8);
    tail.Run(n, 900, 0.7);
    b[i] = 0.9 * crack.high * Decay(t, 0, 0.008) + 1.2 * body.low * Decay(t, 0, 0.07) +
           0.8 * thump.Sine(Glide(t, 0.15, 140, 45)) * Decay(t, 0, 0.09) +
           0.25 * tail.low * Decay(t, 0.02, 0.1);
  }
  return b;
}

// A hit: a sharp crack, a crunch of grainy noise and a spray of high glassy shards that ring
// briefly, most of them early. All of it is over within half a second, before "Cleared!" when the
// hit ends a level.
Buffer Glass() {
  Buffer b = Silence(0.55);
  Rng rng(2);
  NoiseBurst(b, rng, 0.0, 1.2, 4000, 0.8, 0.012);
  Svf crunch;
  for (std::size_t i = 0; i < b.size(); ++i) {
    crunch.Run(rng.Noise(), 3500, 1.2);
    const double grain = rng.Uniform() < 0.25 ? 1.0 : 0.2;
    b[i] += 0.9 * grain * crunch.band * Decay(TimeOf(i), 0.002, 0.05);
  }
  for (int s = 0; s < 45; ++s) {
    const double u = rng.Uniform();
    const double t0 = 0.25 * u * u;
    const double f = 2400 + 6500 * rng.Uniform();
    Strike(b, t0, 0.35 * (1.0 - 0.7 * u), {f, f * 2.32}, 0.015 + 0.035 * rng.Uniform());
  }
  return b;
}

// A target hitting the ground, a life lost: a heavy thud with dirt, then a falling "bwomp" tone
// that laptop speakers can still carry. Short, so that "Game over." is heard clear of it.
Buffer Land() {
  const double len = 0.6;
  Buffer b = Silence(len);
  Rng rng(3);
  Osc thud, tone;
  Svf dirt, tone_filter;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = TimeOf(i);
    dirt.Run(rng.Noise(), Glide(t, 0.2, 1800, 300), 0.9);
    tone_filter.Run(tone.Saw(Glide(t, 0.45, 300, 95), 12), Glide(t, 0.45, 1800, 500), 1.0);
    b[i] = 1.0 * thud.Sine(Glide(t, 0.2, 110, 38)) * Decay(t, 0, 0.1) +
           0.9 * dirt.low * Decay(t, 0, 0.05) +
           0.5 * tone_filter.low * Decay(t, 0.03, 0.13) * Fades(t, len, 0.03, 0.1);
  }
  return b;
}

// A target in flight: a puff of noise as it leaves, then broadband noise through a wide band-pass
// sweeping up from 500 Hz to 4 kHz, a thin layer of open noise and a rising whistle. Broad on
// purpose: the game tells left, centre and right by pan alone, and wide noise is what ears place
// best. The puff makes the first tenth of a second as loud as the rest, so the side is heard
// over the music at once.
Buffer Launch() {
  const double len = 2.6;
  Buffer b = Silence(len);
  Rng rng(4);
  Svf sweep, air, puff;
  Osc whistle;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = TimeOf(i);
    const double n = rng.Noise();
    sweep.Run(n, Glide(t, 2.3, 500, 4000), 1.3);
    air.Run(n, 2000, 0.7);
    puff.Run(n, 1200, 0.8);
    const double vibrato = 1.0 + 0.01 * std::sin(kTwoPi * 6.0 * t);
    const double swell = 0.85 + 0.15 * std::min(1.0, t / 1.2);
    b[i] = swell * Fades(t, len, 0.005, 0.12) *
               (1.0 * sweep.band + 0.18 * air.high +
                0.22 * whistle.Sine(Glide(t, 2.4, 650, 2600) * vibrato)) +
           1.2 * puff.band * Decay(t, 0.0, 0.07);
  }
  return b;
}

// Magazine reloaded: the magazine clicks in, the slide ratchets back, snaps home, and a short
// rising ping says the gun is ready.
Buffer Recharge() {
  Buffer b = Silence(0.75);
  Rng rng(5);
  NoiseBurst(b, rng, 0.0, 1.0, 2500, 1.5, 0.006);
  Strike(b, 0.0, 0.5, {1800, 3100}, 0.03);
  for (int k = 0; k < 6; ++k) NoiseBurst(b, rng, 0.16 + 0.014 * k, 0.5, 1500 + 500 * k, 2.0, 0.003);
  NoiseBurst(b, rng, 0.32, 1.1, 1500, 1.2, 0.01);
  Strike(b, 0.32, 0.6, {1200, 2650, 4400}, 0.05);
  Strike(b, 0.32, 0.5, {160}, 0.04);
  Osc ping;
  for (std::size_t i = std::size_t(0.45 * kFs); i < b.size(); ++i) {
    const double t = TimeOf(i) - 0.45;
    b[i] += 0.3 * ping.Sine(t < 0.07 ? 1320 : 1760) * Fades(t, 0.3, 0.005, 0.2);
  }
  return b;
}

// Magazine spent, or the menu refusing: two falling square-wave beeps, high and insistent.
Buffer Warning() {
  Buffer b = Silence(0.5);
  Osc o;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = TimeOf(i);
    if (t < 0.16)
      b[i] = o.Square(1175, 4) * Fades(t, 0.16, 0.005, 0.01);
    else if (t >= 0.22 && t < 0.46)
      b[i] = o.Square(880, 4) * Fades(t - 0.22, 0.24, 0.005, 0.03);
  }
  return b;
}

// The click of an empty gun: a tiny dry tick with a faint metallic ring.
Buffer Empty() {
  Buffer b = Silence(0.14);
  Rng rng(6);
  NoiseBurst(b, rng, 0.0, 1.2, 4500, 0.8, 0.0015);
  Strike(b, 0.0, 0.35, {2900, 5300}, 0.012);
  Strike(b, 0.0, 0.4, {420}, 0.008);
  return b;
}

// Gun locked after a miss: a heavy clunk, then a low rattling buzz.
Buffer Locked() {
  Buffer b = Silence(0.75);
  Rng rng(7);
  NoiseBurst(b, rng, 0.0, 1.2, 700, 1.0, 0.02);
  Strike(b, 0.0, 0.6, {700, 1650}, 0.04);
  Osc a, c;
  Svf f;
  for (std::size_t i = std::size_t(0.08 * kFs); i < b.size(); ++i) {
    const double t = TimeOf(i) - 0.08;
    f.Run(a.Saw(110, 40) + 0.7 * c.Saw(156, 40), 1400, 0.8);
    const double rattle = 0.6 + 0.4 * std::sin(kTwoPi * 22.0 * t);
    b[i] += 0.45 * f.low * rattle * Fades(t, 0.6, 0.01, 0.06);
  }
  return b;
}

// Start of a game: an alarm siren sweeping up and down twice.
Buffer Siren() {
  const double len = 2.5;
  Buffer b = Silence(len);
  Osc o;
  Svf f;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = TimeOf(i);
    const double freq = 520 + 560 * (0.5 - 0.5 * std::cos(kTwoPi * t / 1.2));
    f.Run(o.Square(freq, 5), 2500, 0.7);
    b[i] = f.low * Fades(t, len, 0.08, 0.12);
  }
  return b;
}

// A bonus target falling: a whistle gliding down from 1.8 kHz to 450 Hz with a soft breath of
// noise that follows it, so it stays easy to place while the game pans and moves it.
Buffer BonusFall() {
  const double len = 3.6;
  Buffer b = Silence(len);
  Rng rng(8);
  Osc o;
  Svf breath;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = TimeOf(i);
    const double freq = Glide(t, 3.5, 1800, 450);
    const double p = o.phase;
    const double s = o.Sine(freq);
    breath.Run(rng.Noise(), 2.5 * freq, 1.5);
    b[i] = Fades(t, len, 0.08, 0.1) *
           (s + 0.3 * std::sin(2 * p) + 0.12 * std::sin(3 * p) + 0.35 * breath.band);
  }
  return b;
}

// A bonus hit: a quick upward "boing" jump and a bright three-note chime.
Buffer BonusHit() {
  Buffer b = Silence(0.8);
  Osc o;
  for (std::size_t i = 0; i < std::size_t(0.14 * kFs); ++i) {
    const double t = TimeOf(i);
    b[i] += 0.5 * o.Sine(Glide(t, 0.14, 350, 1400)) * Fades(t, 0.14, 0.005, 0.03);
  }
  const double notes[] = {1046.5, 1318.5, 1568.0};
  for (int k = 0; k < 3; ++k)
    Strike(b, 0.06 + 0.06 * k, 0.45, {notes[k], notes[k] * 2.0, notes[k] * 3.01}, 0.22);
  return b;
}

// A bonus target landing: a wooden ball bouncing to rest, three knocks closer and softer each
// time, all within a third of a second so the final score is heard clear of it.
Buffer BonusLand() {
  Buffer b = Silence(0.55);
  Rng rng(9);
  const double at[] = {0.0, 0.14, 0.23, 0.29};
  for (int k = 0; k < 4; ++k) {
    const double a = std::pow(0.6, k);
    NoiseBurst(b, rng, at[k], 0.8 * a, 1000, 1.5, 0.006);
    Strike(b, at[k], a, {520, 1430, 2870}, 0.04);
    Strike(b, at[k], 0.8 * a, {180}, 0.04);
  }
  return b;
}

// A wrong key in the bonus round: a sour two-note "wah-wah" falling a tone.
Buffer BonusMiss() {
  Buffer b = Silence(0.55);
  Osc o;
  Svf f;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double t = TimeOf(i);
    const bool second = t >= 0.22;
    const double local = second ? t - 0.22 : t;
    const double note_len = second ? 0.3 : 0.2;
    f.Run(o.Saw(second ? 196 : 220, 40),
          300 + 2200 * std::sin(3.14159 * std::min(1.0, local / note_len)), 2.0);
    b[i] = f.low * Fades(local, note_len, 0.01, 0.05);
  }
  return b;
}

}  // namespace

bool MakeEffect(const std::string& name, Audio& out) {
  static const std::map<std::string, std::function<Buffer()>> effects = {
      {"gun", Gun},
      {"glass", Glass},
      {"land", Land},
      {"launch", Launch},
      {"recharge", Recharge},
      {"warning", Warning},
      {"empty", Empty},
      {"locked", Locked},
      {"siren", Siren},
      {"bonusFall", BonusFall},
      {"bonushit", BonusHit},
      {"BonusLand", BonusLand},
      {"bonusmiss", BonusMiss},
  };
  const auto it = effects.find(name);
  if (it == effects.end()) return false;
  out.rate = kRate;
  out.ch.assign(1, it->second());
  return true;
}

}  // namespace qvsound

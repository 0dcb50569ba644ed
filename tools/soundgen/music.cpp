// The game's four pieces of music, composed as notes, written out as standard MIDI files for
// fluidsynth.
#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <tuple>

#include "soundgen.h"

namespace qvsound {
namespace {

constexpr int kDrums = 9;  // General MIDI percussion channel (counting from 0)
enum Drum {
  Kick = 36,
  SideStick = 37,
  Snare = 38,
  Clap = 39,
  ClosedHat = 42,
  LowTom = 45,
  OpenHat = 46,
  MidTom = 47,
  Crash = 49,
  Tambourine = 54,
  Shaker = 70
};

struct Note {
  double beat, length;
  int channel, key, velocity;
};

struct Piece {
  int bpm = 120;
  int bars = 16;     // of four beats
  int programs[16];  // General MIDI program per channel (-1: unused)
  int volumes[16];   // channel volume, controller 7
  std::vector<Note> notes;
  Piece() {
    std::fill(std::begin(programs), std::end(programs), -1);
    std::fill(std::begin(volumes), std::end(volumes), 100);
  }
  void Add(double beat, double length, int channel, int key, int velocity) {
    notes.push_back({beat, length, channel, key, velocity});
  }
};

// "C#5" -> 73, "Bb3" -> 58 (middle C is C4 = 60).
int Key(const std::string& name) {
  static const int pcs[] = {9, 11, 0, 2, 4, 5, 7};  // A..G
  int k = pcs[name[0] - 'A'];
  std::size_t i = 1;
  if (name[i] == '#') {
    ++k;
    ++i;
  } else if (name[i] == 'b') {
    --k;
    ++i;
  }
  return k + 12 * (std::stoi(name.substr(i)) + 1);
}

// A tune written as "NOTE/beats" tokens ("r" rests), laid down from `beat` on; returns the end.
double Tune(Piece& p, double beat, int channel, int velocity, const std::string& text,
            double legato = 0.9) {
  std::istringstream in(text);
  std::string tok;
  while (in >> tok) {
    const auto slash = tok.find('/');
    const double len = std::stod(tok.substr(slash + 1));
    if (tok[0] != 'r') p.Add(beat, len * legato, channel, Key(tok.substr(0, slash)), velocity);
    beat += len;
  }
  return beat;
}

// A major or minor triad named like "Dm", "Bb", "F#": its root's pitch class and its three tones
// voiced from `low` upwards (root placed in the octave starting at `low`).
std::vector<int> Triad(const std::string& name, int low) {
  const bool minor = name.back() == 'm';
  const std::string root = minor ? name.substr(0, name.size() - 1) : name;
  const int pc = ((Key(root + "4") - low) % 12 + 12) % 12;
  const int r = low + pc;
  return {r, r + (minor ? 3 : 4), r + 7};
}

// A chord per bar, from a space-separated list of chord names.
std::vector<std::string> Bars(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  std::string c;
  while (in >> c) out.push_back(c);
  return out;
}

// Menu: calm, D minor, 100 beats a minute. A warm pad, a harp arpeggio and a soft bass; from the
// ninth bar a vibraphone sings the tune over the same eight chords.
Piece MenuMusic() {
  Piece p;
  p.bpm = 100;
  p.programs[0] = 89;
  p.volumes[0] = 70;  // warm pad
  p.programs[1] = 46;
  p.volumes[1] = 90;  // harp
  p.programs[2] = 33;
  p.volumes[2] = 95;  // finger bass
  p.programs[3] = 11;
  p.volumes[3] = 100;  // vibraphone
  const auto chords = Bars("Dm Bb F C Dm Bb Gm A Dm Bb F C Dm Bb Gm A");
  for (int b = 0; b < 16; ++b) {
    const double t = 4.0 * b;
    for (int k : Triad(chords[b], 55)) p.Add(t, 4.0, 0, k, 55);
    const auto low = Triad(chords[b], 50);
    const int arp[8] = {low[0],      low[2],      low[0] + 12, low[1] + 12,
                        low[2] + 12, low[1] + 12, low[0] + 12, low[2]};
    for (int i = 0; i < 8; ++i) p.Add(t + 0.5 * i, 0.9, 1, arp[i], i % 2 ? 50 : 62);
    const int bass = Triad(chords[b], 36)[0];
    p.Add(t, 1.4, 2, bass, 80);
    p.Add(t + 1.5, 0.45, 2, bass, 60);
    p.Add(t + 2.0, 1.8, 2, bass + (b % 2 ? 7 : 12), 70);
  }
  Tune(p, 32, 3, 80,
       "A4/1.5 D5/0.5 F5/1 E5/1  D5/2 F5/1 D5/1  C5/1.5 A4/0.5 C5/1 F5/1  E5/3 r/1 "
       "F5/1.5 E5/0.5 D5/1 A5/1  G5/1 F5/1 D5/2  Bb4/1 D5/1 G5/1 F5/1  E5/1 C#5/1 A4/2");
  return p;
}

// Drums shared by the level pieces: kick, snare on two and four, hi-hats in eighths (or
// sixteenths when `busy`), a crash at the top of each eight bars and a tom fill before it.
void DrumKit(Piece& p, int bar_count, bool busy) {
  for (int b = 0; b < bar_count; ++b) {
    const double t = 4.0 * b;
    const bool fill = b % 8 == 7;
    if (b % 8 == 0) p.Add(t, 1.0, kDrums, Crash, 100);
    for (int beat = 0; beat < 4; ++beat) {
      if (busy || beat % 2 == 0) p.Add(t + beat, 0.25, kDrums, Kick, 110);
      if (beat % 2 == 1) p.Add(t + beat, 0.25, kDrums, Snare, 105);
    }
    if (!busy) p.Add(t + 2.5, 0.25, kDrums, Kick, 85);
    const double step = busy ? 0.25 : 0.5;
    for (double s = 0; s < (fill ? 2.0 : 4.0); s += step) {
      const bool off = std::fmod(s, 1.0) == 0.5;
      p.Add(t + s, step, kDrums, busy && off ? OpenHat : ClosedHat,
            std::fmod(s, 1.0) == 0.0 ? 80 : 55);
    }
    if (fill)
      for (int i = 0; i < 8; ++i)
        p.Add(t + 2.0 + 0.25 * i, 0.25, kDrums, i < 4 ? MidTom : LowTom, 70 + 5 * i);
  }
}

// Levels 1-3: A minor, 120 beats a minute, steady drive. Strings hold the chords, a picked bass
// moves in eighths, and from the ninth bar a sawtooth lead plays the hook.
Piece Level1Music() {
  Piece p;
  p.bpm = 120;
  p.programs[0] = 48;
  p.volumes[0] = 75;  // strings
  p.programs[1] = 34;
  p.volumes[1] = 100;  // picked bass
  p.programs[2] = 81;
  p.volumes[2] = 72;  // sawtooth lead
  p.volumes[kDrums] = 95;
  const auto chords = Bars("Am Am F G Am Am F E Am Am F G Am Am F E");
  for (int b = 0; b < 16; ++b) {
    const double t = 4.0 * b;
    for (int k : Triad(chords[b], 57)) p.Add(t, 3.9, 0, k, 60);
    const int root = Triad(chords[b], 33)[0];
    for (int i = 0; i < 8; ++i)
      p.Add(t + 0.5 * i, 0.4, 1, root + (i == 3 || i == 7 ? 12 : 0), i % 2 ? 70 : 90);
  }
  DrumKit(p, 16, false);
  Tune(p, 32, 2, 85,
       "A4/0.5 C5/0.5 E5/0.5 A5/0.5 G5/1 E5/1  D5/0.5 E5/0.5 C5/1 A4/2 "
       "F4/0.5 A4/0.5 C5/0.5 F5/0.5 E5/1 C5/1  D5/1 B4/1 G4/1 B4/1 "
       "A4/0.5 C5/0.5 E5/0.5 A5/0.5 B5/1 C6/1  B5/0.5 A5/0.5 G5/1 E5/2 "
       "F5/1 E5/1 C5/1 A4/1  G#4/1 B4/1 E5/2",
       0.8);
  return p;
}

// Levels 4-6: E minor, 150 beats a minute, more urgent. Four-on-the-floor kick with sixteenth
// hats, a pumping octave bass, brass stabs off the beat, and a square lead from the ninth bar.
Piece Level2Music() {
  Piece p;
  p.bpm = 150;
  p.programs[0] = 61;
  p.volumes[0] = 70;  // brass section
  p.programs[1] = 38;
  p.volumes[1] = 100;  // synth bass
  p.programs[2] = 80;
  p.volumes[2] = 68;  // square lead
  p.programs[3] = 49;
  p.volumes[3] = 60;  // slow strings underneath
  p.volumes[kDrums] = 95;
  const auto chords = Bars("Em C D B Em C Am B Em C D B Em C Am B");
  for (int b = 0; b < 16; ++b) {
    const double t = 4.0 * b;
    const auto tones = Triad(chords[b], 59);
    for (double s : {0.5, 1.5, 2.5, 3.5})
      for (int k : tones) p.Add(t + s, 0.3, 0, k, s == 3.5 ? 85 : 70);
    for (int k : Triad(chords[b], 52)) p.Add(t, 3.9, 3, k, 55);
    const int root = Triad(chords[b], 28)[0];
    for (int i = 0; i < 8; ++i)
      p.Add(t + 0.5 * i, 0.35, 1, root + (i % 2 ? 12 : 0), i % 2 ? 75 : 95);
  }
  DrumKit(p, 16, true);
  Tune(p, 32, 2, 90,
       "E5/0.5 E5/0.5 G5/0.5 E5/0.5 B5/1 A5/1  G5/0.5 E5/0.5 C5/1 E5/2 "
       "F#5/0.5 F#5/0.5 A5/0.5 F#5/0.5 D6/1 C6/1  B5/1 A5/0.5 G5/0.5 F#5/1 D#5/1 "
       "E5/0.5 G5/0.5 B5/0.5 E6/0.5 D6/1 B5/1  C6/1 B5/0.5 A5/0.5 G5/2 "
       "A5/0.5 C6/0.5 B5/0.5 A5/0.5 G5/1 E5/1  F#5/1 D#5/1 B4/2",
       0.75);
  return p;
}

// Bonus round: C major, 125 beats a minute, playful. A bouncing acoustic bass, off-beat electric
// piano chords, shaker and side-stick; the marimba plays the tune, a glockenspiel joins in the
// second eight bars.
Piece BonusMusic() {
  Piece p;
  p.bpm = 125;
  p.programs[0] = 12;
  p.volumes[0] = 110;  // marimba
  p.programs[1] = 32;
  p.volumes[1] = 100;  // acoustic bass
  p.programs[2] = 5;
  p.volumes[2] = 70;  // electric piano
  p.programs[3] = 9;
  p.volumes[3] = 55;  // glockenspiel
  p.volumes[kDrums] = 85;
  // Bar 7 of each eight changes chord halfway: Dm then G.
  const auto chords = Bars("C Am F G C Am Dm C C Am F G C Am Dm C");
  for (int b = 0; b < 16; ++b) {
    const double t = 4.0 * b;
    for (int half = 0; half < 2; ++half) {
      const std::string name = (b % 8 == 6 && half == 1) ? "G" : chords[b];
      const auto tones = Triad(name, 55);
      for (double s : {0.5, 1.5})
        for (int k : tones) p.Add(t + 2 * half + s, 0.25, 2, k, 65);
      const int root = Triad(name, 36)[0];
      const int walk[2] = {half ? root + 12 : root, root + 7};
      p.Add(t + 2 * half, 0.9, 1, walk[0], 90);
      p.Add(t + 2 * half + 1, 0.9, 1, walk[1], 75);
    }
    for (int beat = 0; beat < 4; ++beat) {
      if (beat % 2 == 0)
        p.Add(t + beat, 0.25, kDrums, Kick, 95);
      else
        p.Add(t + beat, 0.25, kDrums, SideStick, 90);
      p.Add(t + beat, 0.25, kDrums, Shaker, 70);
      p.Add(t + beat + 0.5, 0.25, kDrums, Shaker, 50);
    }
    if (b % 4 == 3) p.Add(t + 3.5, 0.5, kDrums, Tambourine, 70);
  }
  const std::string melody =
      "E5/0.5 G5/0.5 C6/1 G5/0.5 E5/0.5 G5/1  A5/0.5 G5/0.5 E5/1 C5/2 "
      "F5/0.5 A5/0.5 C6/1 A5/0.5 F5/0.5 A5/1  G5/1 B5/1 D6/2 "
      "E6/0.5 D6/0.5 C6/1 G5/1 E5/1  A5/1 C6/0.5 A5/0.5 E5/2 "
      "F5/0.5 A5/0.5 D6/1 B5/0.5 G5/0.5 F5/1  E5/1 G5/1 C5/2";
  Tune(p, 0, 0, 95, melody, 0.85);
  Tune(p, 32, 0, 95, melody, 0.85);
  Tune(p, 32, 3, 70, melody, 0.6);
  return p;
}

bool FindPiece(const std::string& name, Piece& p) {
  if (name == "menumusic")
    p = MenuMusic();
  else if (name == "level1")
    p = Level1Music();
  else if (name == "level2")
    p = Level2Music();
  else if (name == "BonusMusic")
    p = BonusMusic();
  else
    return false;
  return true;
}

void VarLen(std::string& s, std::uint32_t v) {
  char bytes[5];
  int n = 0;
  bytes[n++] = char(v & 0x7f);
  while (v >>= 7) bytes[n++] = char((v & 0x7f) | 0x80);
  while (n) s += bytes[--n];
}

}  // namespace

long MusicLoopSamples(const std::string& name) {
  Piece p;
  if (!FindPiece(name, p)) return 0;
  return long(p.bars) * 4 * 60 * kRate / p.bpm;
}

// Format 0 MIDI file, 480 ticks a beat, the loop written three times over (so the renderer's
// middle pass carries the tails of the pass before it, as the looping game will).
bool WriteMusicMidi(const std::string& name, const std::string& path) {
  Piece p;
  if (!FindPiece(name, p)) return false;
  const int tpq = 480;
  const double loop_beats = 4.0 * p.bars;
  // (tick, order, bytes): at the same tick, set-up first, then note-offs, then note-ons.
  std::vector<std::tuple<long, int, std::string>> events;
  const long us_per_beat = 60000000L / p.bpm;
  events.emplace_back(0, 0,
                      std::string("\xff\x51\x03", 3) + char(us_per_beat >> 16) +
                          char((us_per_beat >> 8) & 0xff) + char(us_per_beat & 0xff));
  for (int c = 0; c < 16; ++c) {
    if (p.programs[c] < 0 && c != kDrums) continue;
    if (p.programs[c] >= 0)
      events.emplace_back(0, 0, std::string{char(0xC0 | c), char(p.programs[c])});
    events.emplace_back(0, 0, std::string{char(0xB0 | c), 7, char(p.volumes[c])});
    events.emplace_back(0, 0, std::string{char(0xB0 | c), 10, 64});
  }
  for (int pass = 0; pass < 3; ++pass)
    for (const Note& n : p.notes) {
      const long on = std::lround((n.beat + pass * loop_beats) * tpq);
      const long off = on + std::max(1L, std::lround(n.length * tpq));
      events.emplace_back(on, 2,
                          std::string{char(0x90 | n.channel), char(n.key), char(n.velocity)});
      events.emplace_back(off, 1, std::string{char(0x80 | n.channel), char(n.key), 0});
    }
  const long end = std::lround((3 * loop_beats + 4) * tpq);
  std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) {
    return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
  });
  std::string track;
  long last = 0;
  for (const auto& [tick, order, bytes] : events) {
    VarLen(track, std::uint32_t(tick - last));
    track += bytes;
    last = tick;
  }
  VarLen(track, std::uint32_t(end - last));
  track += std::string("\xff\x2f\x00", 3);
  std::string file("MThd\0\0\0\x06\0\0\0\x01", 12);
  file += char(tpq >> 8);
  file += char(tpq & 0xff);
  file += "MTrk";
  for (int i = 3; i >= 0; --i) file += char((track.size() >> (8 * i)) & 0xff);
  file += track;
  std::ofstream out(path, std::ios::binary);
  out.write(file.data(), std::streamsize(file.size()));
  return bool(out);
}

}  // namespace qvsound

// simulator_test.cpp -- the simulator as a program (options, exit status, log format) and its
// script and bot on the virtual machine.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "core/window_events.h"
#include "input/keyboard.h"
#include "mix_figures.h"
#include "platform/key_names.h"
#include "platform/wave_file.h"
#include "render_file.h"
#include "sound/players.h"
#include "sound/sound_bank.h"
#include "support.h"

namespace qv::test {
namespace {

struct SimRun {
  int status;
  std::string out;
  std::string err;
};

SimRun RunSim(const std::string& args) {
  TempDir d;
  std::string cmd = std::string(QV_SIM_PATH) + " " + args + " 2>" + (d / "err");
  FILE* p = popen(cmd.c_str(), "r");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int raw = pclose(p);
  std::stringstream err;
  err << std::ifstream(d / "err").rdbuf();
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, out, err.str()};
}

std::vector<std::vector<std::string>> Rows(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream f(line);
    for (std::string field; std::getline(f, field, '\t');) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

TEST(Simulator, ExitStatusesAndLogFormat) {
  TempDir d;
  WriteSoundSet(d / "sounds");
  std::ofstream(d / "quit.txt")
      << "# leave at the prompt\n\nwait play menuprompt.wav\ntap escape\n";
  std::ofstream(d / "bad.txt") << "sleep soon\n";

  SimRun ok = RunSim("--sounds " + (d / "sounds") + " --script " + (d / "quit.txt"));
  EXPECT_EQ(ok.status, 0);
  auto rows = Rows(ok.out);
  ASSERT_GT(rows.size(), 20u);
  for (const auto& r : rows) ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"0", "load", "1", "menumusic.wav", "-"}));
  EXPECT_EQ(rows.back(), (std::vector<std::string>{rows.back()[0], "exit", "-", "-", "0"}));
  bool key_logged = false;
  for (const auto& r : rows) key_logged = key_logged || (r[1] == "key" && r[3] == "Escape");
  EXPECT_TRUE(key_logged);

  // Without a script nothing ends the program: the time limit does.
  SimRun limited = RunSim("--sounds " + (d / "sounds") + " --until 8000");
  EXPECT_EQ(limited.status, 3);
  EXPECT_EQ(Rows(limited.out).back()[3], "menuprompt.wav");

  EXPECT_EQ(RunSim("--sounds " + (d / "sounds") + " --no-device").status, 1);
  EXPECT_EQ(RunSim("--script " + (d / "bad.txt")).status, 2);
  EXPECT_EQ(RunSim("--script " + (d / "none.txt")).status, 2);
  EXPECT_EQ(RunSim("--bogus 1").status, 2);
  EXPECT_EQ(RunSim("--seed").status, 2);
  EXPECT_EQ(RunSim("--http-delay -2").status, 2);
  // A folder for a script is refused, not run as an empty one.
  SimRun folder = RunSim("--script " + d.path().string());
  EXPECT_EQ(folder.status, 2);
  EXPECT_NE(folder.err.find("folder"), std::string::npos) << folder.err;
  // A wait never met ends at the time limit, naming the line that waited.
  std::ofstream(d / "never.txt") << "sleep 10\nwait play never.wav\n";
  SimRun never =
      RunSim("--sounds " + (d / "sounds") + " --until 3000 --script " + (d / "never.txt"));
  EXPECT_EQ(never.status, 3);
  EXPECT_NE(never.err.find("line 2 of " + (d / "never.txt") + " (wait play never.wav)"),
            std::string::npos)
      << never.err;
  SimRun help = RunSim("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: quorvane-sim", 0), 0u) << help.out;
  for (const char* told :
       {"tap KEY [MS]", "PageDown M F1", "The bot", "MS OP ID SUBJECT VALUE", "3 the time limit"}) {
    EXPECT_NE(help.out.find(told), std::string::npos) << told;
  }
}

TEST(Simulator, SameSeedSameRun) {
  TempDir d;
  WriteSoundSet(d / "sounds");
  // Into the difficulty selection and back to the menu, then out.
  std::ofstream(d / "s.txt") << "sleep 300\ntap Space\nwait play menuprompt.wav\ntap Return\n"
                                "wait play difficulty.wav\ntap Escape 10\n"
                                "wait play menuprompt.wav\ntap Escape\n";
  std::string args =
      "--sounds " + (d / "sounds") + " --script " + (d / "s.txt") + " --tick0 4294967000";
  SimRun a = RunSim(args), b = RunSim(args);
  EXPECT_EQ(a.status, 0);
  EXPECT_EQ(a.out, b.out);
}

// --render: the run mixed through the game's mixer in virtual time. The level music is silent
// here, so each launch is heard alone in its first 100 ms: on its own side for a side launch,
// evenly for the centre. The file holds the run's time to the frame (fractions carried).
TEST(Simulator, RenderPlacesEachLaunchOnItsSide) {
  TempDir d;
  WriteSoundSet(d / "sounds");
  const std::vector<int16_t> silence(22050, 0);
  WriteWave(d / "sounds/level1.wav", 22050, 1, silence.data(), silence.size());
  std::ofstream(d / "s.txt") << "sleep 300\ntap Space\nwait play menuprompt.wav\ntap Return\n"
                                "wait play difficulty.wav\ntap Return\n";
  SimRun run = RunSim("--sounds " + (d / "sounds") + " --script " + (d / "s.txt") +
                      " --bot 200 --until 30001 --render " + (d / "out.wav"));
  EXPECT_EQ(run.status, 3);
  const PcmFloat wav = ReadWaveFloat(d / "out.wav");
  ASSERT_EQ(wav.rate, 44100u);
  ASSERT_EQ(wav.channels, 2u);
  EXPECT_EQ(wav.frames(), 1323044u);  // 30001 ms of 44.1 frames

  auto power = [&](uint32_t ms, int channel) {
    double sum = 0;
    for (size_t f = ms * 441 / 10; f < (ms + 100) * 441 / 10; ++f) {
      sum += std::pow(wav.samples[2 * f + static_cast<size_t>(channel)], 2);
    }
    return sum;
  };
  std::map<std::string, int> pans;
  std::map<int, int> launches;  // pan -> launches heard
  for (const auto& r : Rows(run.out)) {
    if (r[1] == "pan") pans[r[2]] = std::stoi(r[4]);
    if (r[1] != "play" || r[3] != "launch.wav") continue;
    const uint32_t ms = static_cast<uint32_t>(std::stoul(r[0]));
    const int pan = pans[r[2]];
    const double left = power(ms, 0), right = power(ms, 1);
    SCOPED_TRACE("launch at " + r[0] + " pan " + std::to_string(pan));
    if (pan == 0) {
      EXPECT_GT(left, 0.01);
      EXPECT_NEAR(left, right, left * 0.01);
    } else {
      const double near = pan < 0 ? left : right, far = pan < 0 ? right : left;
      EXPECT_GT(near, 0.01);
      EXPECT_LT(far, near * 1e-4);  // 40 dB down: the far channel is silent
    }
    ++launches[pan];
  }
  EXPECT_EQ(launches.size(), 3u) << "launches from every side";
  EXPECT_EQ(RunSim("--render " + (d / "no/such/dir.wav")).status, 2);
}

// The render keeps to the machine's count of where each sound is: a stopped sound resumes where
// it stopped, and one played to its end starts again from its beginning.
TEST(Render, ResumesAndRestartsWhereTheMachineSays) {
  TempDir d;
  std::vector<int16_t> ramp(2205);  // 100 ms at 22050 Hz: 0, 10, 20...
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(10 * i);
  WriteWave(d / "ramp.wav", 22050, 1, ramp.data(), ramp.size());
  VirtualOptions o;
  o.sounds_dir = d.path().string();
  VirtualPlatform machine(o);
  std::vector<float> left;
  VirtualRender render(machine, o.sounds_dir, [&](const auto& stems, size_t frames) {
    for (size_t i = 0; i < frames; ++i) left.push_back(stems[0][2 * i]);
  });
  auto run = [&](int ms) {
    for (int i = 0; i < ms; ++i) machine.ProcessEvents(std::nullopt);
  };
  // The file's frame heard at a millisecond, read back from the ramp.
  auto frame_at = [&](int ms) { return left[static_cast<size_t>(ms) * 441 / 10] * 32768 / 10; };
  const BufferId id = machine.CreateBuffer("ramp.wav");
  machine.Play(id, kPlayOnce);
  run(40);
  machine.Stop(id);
  run(20);
  machine.Play(id, kPlayOnce);
  run(80);  // the last 60 ms of the file, then silence
  machine.Play(id, kPlayOnce);
  run(30);
  EXPECT_NEAR(frame_at(20), 441, 2);
  EXPECT_EQ(left[55 * 441 / 10], 0.0f);  // stopped
  EXPECT_NEAR(frame_at(70), 882 + 220.5, 2);
  EXPECT_EQ(left[130 * 441 / 10], 0.0f);  // ended
  EXPECT_NEAR(frame_at(150), 220.5, 2);
}

// The mix figures read from a render whose levels are known: every sound a 440 Hz tone, the level
// music a 330 Hz one 20 dB down. No bot: every target lands, the fifth ends the game.
TEST(MixFigures, ReadKnownLevelsFromTheRender) {
  TempDir d;
  WriteSoundSet(d / "sounds", 400);
  std::vector<int16_t> music(22050);  // a second: whole cycles, so it loops without a step
  for (size_t i = 0; i < music.size(); ++i) {
    music[i] = static_cast<int16_t>(300 * std::sin(2 * M_PI * 330.0 * double(i) / 22050));
  }
  WriteWave(d / "sounds/level1.wav", 22050, 1, music.data(), music.size());
  SimOptions o;
  o.sounds_dir = (d.path() / "sounds").string();
  std::string error;
  // S while the first target flies (its launch stops, and goes on afterwards rather than
  // anew), then S between targets, over the music alone.
  o.script = *ParseScript(
      "sleep 300\ntap Space\nwait play menuprompt.wav\ntap Return\nwait play difficulty.wav\n"
      "tap Return\nwait play launch.wav\nsleep 200\ntap S\nwait play land.wav\nsleep 600\n"
      "tap S\nwait play final.wav\nsleep 2000\nclose\n",
      &error);
  const MixFigures f = MeasureMix(o);
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.full_scale, 0u);
  ASSERT_EQ(f.launches.size(), 5u);
  int sides = 0;
  for (const LaunchFigure& l : f.launches) {
    EXPECT_NEAR(l.over_music_db, 20, 0.2) << l.ms;
    if (l.pan == 0) continue;
    ++sides;
    EXPECT_NEAR(l.near_over_far_db, 10 * std::log10(1.01 / 0.01), 0.2) << l.ms;
  }
  EXPECT_GT(sides, 0);
  ASSERT_EQ(f.phrases.size(), 4u);
  EXPECT_EQ(f.phrases[0].words, "sn0 points");
  // Speech in play lowers the music and the effects by 20 dB (kPlayDucked); the 5 ms ramp down
  // at the phrase's start takes up to a decibel and a half off that.
  EXPECT_GT(f.phrases[0].over_db, 23);  // the music, and the launch fading as it stops
  EXPECT_LT(f.phrases[0].over_db, 29.9);
  EXPECT_EQ(f.phrases[1].words, "sn0 points");
  EXPECT_GT(f.phrases[1].over_db, 38.5);
  EXPECT_LT(f.phrases[1].over_db, 40.2);
  // With the last landing's thud, as loud but lowered: both channels over the landing's one
  // or two.
  EXPECT_EQ(f.phrases[2].words, "gameover");
  const double landing = f.launches.back().pan == 0 ? 20 : 23.01;
  EXPECT_GT(f.phrases[2].over_db, landing - 1.5);
  EXPECT_LT(f.phrases[2].over_db, landing + 0.2);
  EXPECT_EQ(f.phrases[3].words, "final sn0 points");  // the music stopped: nothing else
  EXPECT_TRUE(f.phrases[3].alone);
}

TEST(Script, ParsesEveryCommandAndRejectsBadLines) {
  std::string error;
  auto s = ParseScript(
      "sleep 10\ndown up\nup 200\ntap Left\ntap right 5\n"
      "wait store QuorVane/Settings/HighScore\nclose\nblur\nfocus\n",
      &error);
  ASSERT_TRUE(s) << error;
  ASSERT_EQ(s->size(), 9u);
  EXPECT_EQ((*s)[1].key, 200);
  EXPECT_EQ((*s)[3].ms, 50);
  EXPECT_EQ((*s)[4].key, 205);
  EXPECT_EQ((*s)[5].subject, "QuorVane/Settings/HighScore");
  for (const char* bad : {"sleep", "tap Tab", "down 256", "wait play", "close now", "jump 3"}) {
    EXPECT_FALSE(ParseScript(bad, &error)) << bad;
    EXPECT_NE(error.find("line 1"), std::string::npos);
  }
  EXPECT_EQ(*KeyFromName("LEFTCTRL"), 29);
  EXPECT_EQ(*KeyFromName("17"), 17);
  EXPECT_EQ(KeyName(57), "Space");
}

TEST(Script, WaitsSleepsAndWindowEvents) {
  World w(WithScript("wait play clear.wav\nsleep 20\ndown B\nblur\nsleep 5\nfocus\nclose\n"));
  w.machine.ShowWindow();
  w.machine.CreateKeyboard();
  for (int i = 0; i < 10; ++i) DoEvents(w.pg.window);
  EXPECT_EQ(w.Find("key", "B"), -1);          // still waiting
  PlaySound(w.pg.audio, "clear.wav", false);  // at 10 ms
  for (int i = 0; i < 20; ++i) DoEvents(w.pg.window);
  EXPECT_EQ(w.Find("key", "B"), -1);
  try {
    for (int i = 0; i < 50; ++i) {
      DoEvents(w.pg.window);
      PollKeyboard(w.pg.keyboard);
    }
    FAIL() << "the window was not closed";
  } catch (const WindowClosed&) {
  }
  const LogEntry& key = w.Log().at(static_cast<size_t>(w.Find("key", "B")));
  EXPECT_EQ(key.ms, 31u);  // the sleep began when the wait ended, at 11
  EXPECT_EQ(w.machine.Now(), 36u);
  // The window lost the foreground before the keyboard was ever acquired: B was never read.
  EXPECT_FALSE(KeyDown(w.pg.keyboard, kKeyB));
}

// A wait after a key counts what the game did at the press as well as at the release; after a
// wait or a sleep it counts only what came once they were over.
TEST(Script, AWaitAfterATapHearsWhatThePressDid) {
  // Runs 100 ms of the script, playing gun.wav at `gun` ms and clear.wav at 10 ms.
  auto run = [](const std::string& script, int gun) {
    World w(WithScript(script + "down H\n"));
    w.machine.ShowWindow();
    w.machine.CreateKeyboard();
    for (int t = 1; t <= 100; ++t) {
      DoEvents(w.pg.window);
      if (t == gun) PlaySound(w.pg.audio, "gun.wav", false);
      if (t == 10) PlaySound(w.pg.audio, "clear.wav", false);
    }
    return w.Find("key", "H") != -1;
  };
  EXPECT_TRUE(run("tap S 40\nwait play gun.wav\n", 6));  // played while S was held
  EXPECT_FALSE(run("wait play clear.wav\nwait play gun.wav\n", 6));
  EXPECT_TRUE(run("wait play clear.wav\nwait play gun.wav\n", 12));
  EXPECT_FALSE(run("sleep 40\nwait play gun.wav\n", 6));
  EXPECT_TRUE(run("sleep 40\nwait play gun.wav\n", 60));
}

TEST(Bot, AnswersLaunchesFallsAndTheWarning) {
  SimOptions o;
  o.bot_ms = 120;
  World w(o);
  w.machine.ShowWindow();
  LoadSoundBank(w.pg.audio);
  auto run = [&](int ms) {
    for (int i = 0; i < ms; ++i) DoEvents(w.pg.window);
  };
  w.machine.SetPan(w.pg.audio.bank.LaunchSound, -10000);
  w.machine.Play(w.pg.audio.bank.LaunchSound, kPlayOnce);  // at 0
  w.machine.SetPan(w.pg.audio.bank.BonusFallSound, 0);
  w.machine.Play(w.pg.audio.bank.BonusFallSound, kPlayOnce);  // at 0
  run(50);
  w.machine.SetPan(w.pg.audio.bank.BonusFallSound, 10000);  // a jump while falling, at 50
  w.machine.Play(w.pg.audio.bank.WarningSound, kPlayOnce);
  run(300);
  w.machine.SetPan(w.pg.audio.bank.LaunchSound, 0);  // not falling: no answer
  run(300);
  std::vector<std::string> keys;
  for (const LogEntry& e : w.Log()) {
    if (e.op == "key") keys.push_back(std::to_string(e.ms) + " " + e.subject + " " + e.value);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"120 Left down", "120 Up down", "150 Left up",
                                            "150 Up up", "170 Right down", "170 Space down",
                                            "200 Right up", "200 Space up"}));
}

}  // namespace
}  // namespace qv::test

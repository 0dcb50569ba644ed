// replay_test.cpp -- games recorded at the seam on the virtual machine, run again with the game's
// own code: a whole game won by the bot and a bonus round come out as they were played, line for
// line in the sound log, and every way of forging a replay is refused for its own reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/replay/replay_events.h"
#include "platform/replay/replay_platform.h"
#include "startup/replays.h"
#include "store/replay_archive.h"
#include "submit/score_url.h"
#include "support.h"

namespace qv::test {
namespace {

// A session recorded once for every test: a game won by the bot at difficulty 2, the bonus
// round, and a game whose difficulty is chosen after the window lost the keyboard for a moment,
// ended by Escape after its first hit.
struct Session {
  Session() : w(Options(), true, true) { status = w.Run(); }
  static SimOptions Options() {
    SimOptions o = WithScript(
        "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\ntap Down\n"
        "sleep 300\ntap Return\nwait play final.wav\nwait play menuprompt.wav\nsleep 300\n"
        "tap B\nwait play final.wav\nwait play menuprompt.wav\nsleep 300\ntap Return\n"
        "wait play difficulty.wav\nsleep 300\nblur\nsleep 50\nfocus\nsleep 300\ntap Return\n"
        "wait play glass.wav\ntap Escape\nwait play menuprompt.wav\ntap Escape\n");
    o.bot_ms = 200;
    return o;
  }
  World w;
  int status = 0;
};

const Session& Recorded() {
  static const Session session;
  return session;
}

// A recording's events, each with its operands, to forge.
struct Event {
  ReplayOp op;
  std::vector<int64_t> n;  // its numbers, in order (its time first, when it has one)
  std::vector<std::string> t;
};

std::vector<Event> Events(const std::string& bytes) {
  std::vector<Event> out;
  ByteReader r(bytes);
  while (!r.AtEnd()) {
    Event e{static_cast<ReplayOp>(r.Byte()), {}, {}};
    if (IsTimed(e.op)) e.n.push_back(r.Signed());
    switch (e.op) {
      case ReplayOp::TickCount:
        e.n.push_back(r.Signed());
        break;
      case ReplayOp::ProcessEvents:
        e.n = {static_cast<int64_t>(r.Unsigned()), r.Byte(), static_cast<int64_t>(r.Unsigned()),
               r.Signed()};
        break;
      case ReplayOp::ReadKeyboard:
        e.n.push_back(r.Byte());
        if (e.n.back() == 0) {
          const uint64_t keys = r.Unsigned();
          for (uint64_t k = 0; k < 2 * keys; ++k) e.n.push_back(r.Byte());
        }
        break;
      case ReplayOp::CreateBuffer:
        e.t.push_back(r.Text());
        e.n.push_back(static_cast<int64_t>(r.Unsigned()));
        break;
      case ReplayOp::Play:
        e.n.push_back(static_cast<int64_t>(r.Unsigned()));
        e.n.push_back(r.Byte());
        break;
      case ReplayOp::SetVolume:
      case ReplayOp::SetPan:
        e.n.push_back(static_cast<int64_t>(r.Unsigned()));
        e.n.push_back(r.Signed());
        break;
      case ReplayOp::SetCurrentPosition:
      case ReplayOp::SetFrequency:
      case ReplayOp::GetStatus:
        e.n.push_back(static_cast<int64_t>(r.Unsigned()));
        e.n.push_back(static_cast<int64_t>(r.Unsigned()));
        break;
      default:  // one number: a seed, a buffer, a flag
        e.n.push_back(static_cast<int64_t>(r.Unsigned()));
    }
    out.push_back(e);
  }
  return out;
}

std::string Bytes(const std::vector<Event>& events) {
  ByteWriter w;
  for (const Event& e : events) {
    w.Byte(static_cast<uint8_t>(e.op));
    size_t i = 0;
    if (IsTimed(e.op)) w.Signed(e.n[i++]);
    auto u = [&] { w.Unsigned(static_cast<uint64_t>(e.n[i++])); };
    auto s = [&] { w.Signed(e.n[i++]); };
    auto b = [&] { w.Byte(static_cast<uint8_t>(e.n[i++])); };
    switch (e.op) {
      case ReplayOp::TickCount:
        s();
        break;
      case ReplayOp::ProcessEvents:
        u(), b(), u(), s();
        break;
      case ReplayOp::ReadKeyboard:
        b();
        if (e.n[i - 1] == 0) {
          w.Unsigned((e.n.size() - i) / 2);
          while (i < e.n.size()) b();
        }
        break;
      case ReplayOp::CreateBuffer:
        w.Text(e.t[0]), u();
        break;
      case ReplayOp::Play:
        u(), b();
        break;
      case ReplayOp::SetVolume:
      case ReplayOp::SetPan:
        u(), s();
        break;
      case ReplayOp::SetCurrentPosition:
      case ReplayOp::SetFrequency:
      case ReplayOp::GetStatus:
        u(), u();
        break;
      default:
        u();
    }
  }
  return std::move(w.Bytes());
}

// Runs a replay's file again on the session's sounds; what came of it, or why it was refused.
std::string Verdict(const std::string& file, double cpu_budget_s = 0) {
  try {
    const Replay replay = DecodeReplay(file, QV_VERSION);
    ReplayPlatform machine(replay, {Recorded().w.opts.sounds_dir, cpu_budget_s});
    const ReplayOutcome o = RunReplay(replay, machine);
    return "score " + std::to_string(o.score) + " level " + std::to_string(o.level);
  } catch (const ReplayError& e) {
    return e.what();
  } catch (const ReplayRefused& e) {
    return e.reason;
  }
}

Replay Game(size_t i) { return DecodeReplay(Recorded().w.replays.at(i)); }

// The index of the first event for which pick holds.
size_t Find(const std::vector<Event>& events, const std::function<bool(const Event&)>& pick,
            size_t from = 0) {
  for (size_t i = from; i < events.size(); ++i) {
    if (pick(events[i])) return i;
  }
  ADD_FAILURE() << "no such event";
  return 0;
}

TEST(Replays, AGameAndABonusRoundRunAgainAsTheyWerePlayed) {
  const Session& s = Recorded();
  ASSERT_EQ(s.status, 0);
  ASSERT_EQ(s.w.replays.size(), 3u);  // two games and the bonus round
  const GameState& last = s.w.pg.game.state;
  EXPECT_EQ(Verdict(s.w.replays[2]), "score " + std::to_string(last.Score) + " level 1");
  const Replay won = Game(0);
  EXPECT_EQ(won.claimed.level, 6);
  EXPECT_EQ(won.claimed.difficulty, 2);
  EXPECT_GT(won.claimed.stored, 0);  // it made the high score
  EXPECT_LT(s.w.replays[0].size(), 64u * 1024) << "a whole game's replay";
  EXPECT_EQ(Verdict(s.w.replays[0]), "score " + std::to_string(won.claimed.score) + " level 6");
  EXPECT_EQ(Game(1).kind, ReplayKind::BonusRound);
  EXPECT_EQ(Verdict(s.w.replays[1]), "score " + std::to_string(Game(1).claimed.score) + " level 0");

  // The replay's log is the game's own, from the difficulty prompt to the game's end.
  const Replay replay = Game(0);
  ReplayPlatform machine(replay, {s.w.opts.sounds_dir});
  SoundLog log;
  log.Follow(machine.Parts(), [&] { return machine.Now() - replay.start_ms; });
  RunReplay(replay, machine, &log);
  const auto& original = s.w.Log();
  size_t at = 0;
  while (!(original[at].op == "load" && original[at].subject == "difficulty.wav")) ++at;
  while (original[at].op != "volume") --at;  // the music's ducking before it
  const uint32_t start = original[at].ms;
  size_t compared = 0;
  for (const LogEntry& e : log.Entries()) {
    while (original[at].op == "key") ++at;  // the script's keys; the replay logs what reads see
    if (e.op == "key") continue;
    ASSERT_EQ(FormatLogEntry(e),
              FormatLogEntry({original[at].ms - start, original[at].op, original[at].id,
                              original[at].subject, original[at].value}))
        << "line " << compared;
    ++at;
    ++compared;
  }
  EXPECT_GT(compared, 1000u);
}

// Each forgery is refused, and for its own reason.
TEST(Replays, EachForgeryIsRefusedForItsOwnReason) {
  const std::string& file = Recorded().w.replays[0];
  using Edit = std::function<void(Replay&, std::vector<Event>&)>;
  auto forged = [&](const Edit& edit, size_t game = 0) {
    Replay r = Game(game);
    std::vector<Event> events = Events(r.events);
    edit(r, events);
    r.events = Bytes(events);
    return EncodeReplay(r);
  };
  auto is = [](ReplayOp op) { return [op](const Event& e) { return e.op == op; }; };
  const struct {
    const char* what;
    std::string file;
    const char* reason;
    double budget = 0;
  } cases[] = {
      {"unchanged", forged([](Replay&, std::vector<Event>&) {}), "score "},
      {"score edited", forged([](Replay& r, auto&) { r.claimed.score += 1000; }), "claims score"},
      {"stored high score edited", forged([](Replay& r, auto&) { r.claimed.stored = 999999; }),
       "claims score"},
      {"the clock going back",
       forged([&](Replay&, auto& ev) { ev[Find(ev, is(ReplayOp::TickCount), 2000)].n[0] = -7; }),
       "clock goes back 7 ms"},
      {"a sound ending early",
       forged([&](Replay&, auto& ev) {  // the siren's wait, its turns taking no time
         size_t i = Find(ev, [](const Event& e) { return e.t.size() && e.t[0] == "siren.wav"; });
         for (; ev[i].op != ReplayOp::GetStatus || ev[i].n[2] != 0; ++i) {
           if (ev[i].op == ReplayOp::ProcessEvents) ev[i].n[3] = 0;
         }
       }),
       "siren.wav ends"},
      {"a key read while the window has not the keyboard",
       forged(
           [&](Replay&, auto& ev) {  // the read after the one that found the keyboard lost
             auto failed = [](const Event& e) {
               return e.op == ReplayOp::ReadKeyboard && e.n[1] != 0;
             };
             const size_t next = Find(ev, failed, Find(ev, failed) + 1);
             ev[next].n = {ev[next].n[0], 0, kKeyReturn, 0x80};
           },
           2),
       "does not have it"},
      {"a seed edited",
       forged([&](Replay&, auto& ev) { ev[Find(ev, is(ReplayOp::ClockSeed))].n[1] ^= 1; }),
       "the game asked for the rate"},
      {"a deadline edited", forged([&](Replay&, auto& ev) {
         ev[Find(ev, [](const Event& e) { return e.op == ReplayOp::ProcessEvents && e.n[0]; })]
             .n[0] += 2;
       }),
       "deadline coded"},
      {"a sound renamed",
       forged([&](Replay&, auto& ev) { ev[Find(ev, is(ReplayOp::CreateBuffer))].t[0] = "x.wav"; }),
       "the sound \""},
      {"a buffer number given twice",
       forged([&](Replay&, auto& ev) { ev[Find(ev, is(ReplayOp::CreateBuffer))].n[1] = 1; }),
       "buffer number 1 again"},
      {"a status no sound has",
       forged([&](Replay&, auto& ev) { ev[Find(ev, is(ReplayOp::GetStatus))].n[2] = 7; }),
       "which no sound has"},
      {"a sound played once read as looping", forged([&](Replay&, auto& ev) {
         ev[Find(ev, [](const Event& e) { return e.op == ReplayOp::GetStatus && e.n[2] == 1; })]
             .n[2] = 5;
       }),
       "reads as looping"},
      {"an event of another kind",
       forged([&](Replay&, auto& ev) { ev[3].op = ReplayOp::ClockSeed; }),
       "where the recording holds a seed"},
      {"the recording cut short", forged([&](Replay&, auto& ev) { ev.resize(ev.size() / 2); }),
       "ends before the game does"},
      {"events after the game's end", forged([&](Replay&, auto& ev) { ev.push_back(ev[0]); }),
       "goes on after the game"},
      {"a bonus round claimed for a game",
       forged([](Replay& r, auto&) { r.kind = ReplayKind::BonusRound; }), "the game asked for"},
      {"the starting state padded", forged([](Replay& r, auto&) { r.state += '\1'; }),
       "holds more than a game's"},
      {"a game that never ends",
       forged([&](Replay&, auto& ev) {  // a pass of the difficulty selection, over and over
         const size_t prompt =
             Find(ev, [](const Event& e) { return e.t.size() && e.t[0] == "difficulty.wav"; });
         const size_t pass = Find(
             ev,
             [&](const Event& e) {
               const size_t i = static_cast<size_t>(&e - ev.data());
               return e.op == ReplayOp::ReadKeyboard && e.n.size() == 2 &&
                      ev[i + 1].op == ReplayOp::ProcessEvents && ev[i + 1].n[0] == 0;
             },
             prompt);
         const std::vector<Event> again(ev.begin() + static_cast<long>(pass),
                                        ev.begin() + static_cast<long>(pass) + 2);
         std::vector<Event> idle;
         for (int i = 0; i < 300000; ++i) idle.insert(idle.end(), again.begin(), again.end());
         ev.insert(ev.begin() + static_cast<long>(pass), idle.begin(), idle.end());
       }),
       "s of computing", 0.01},
      {"another version of the game",
       [&] {
         Replay r = Game(0);
         r.game_version = "0.9";
         return EncodeReplay(r);
       }(),
       "recorded by QuorVane 0.9"},
      {"another format",
       [&] {
         std::string f = file;
         f[4] = 2;
         return f;
       }(),
       "format 2"},
      {"not a replay", "RIFF" + file.substr(4), "not a QuorVane replay"},
      {"a truncated file", file.substr(0, file.size() - 9), "damaged"},
      {"a damaged byte",
       [&] {
         std::string f = file;
         f[f.size() / 2] ^= 0x20;
         return f;
       }(),
       "damaged"},
      {"a huge file", file + std::string(2 << 20, '\0'), "too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_NE(Verdict(c.file, c.budget).find(c.reason), std::string::npos) << Verdict(c.file);
  }
}

// The program keeps the last ten games and the best; the best follows a score that is sent.
TEST(Replays, TheLastTenAndTheBestAreKeptAndTheBestFollowsTheScore) {
  TempDir d;
  ReplayArchive archive(d / "replays");
  for (int game = 1; game <= 12; ++game) archive.Keep("game " + std::to_string(game), game == 5);
  std::vector<std::string> names;
  for (const auto& f : std::filesystem::directory_iterator(d / "replays")) {
    names.push_back(f.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 11u);
  EXPECT_EQ(names.front(), "best.qvr");
  EXPECT_EQ(names[1], "game-000003.qvr");
  EXPECT_EQ(archive.Best(), "game 5");

  SimOptions o = WithScript(
      "wait play menuprompt.wav\nsleep 300\ntap Down\nsleep 300\ntap Down\nsleep 300\n"
      "tap Return\nwait play SendGood.wav\nwait play menuprompt.wav\ntap Escape\n");
  o.settings_path = d / "settings.ini";
  std::ofstream(o.settings_path) << HighScoreFile("1500", 2);
  World w(o);
  w.pg.sender.replays = &archive;
  ASSERT_EQ(w.Run(), 0);
  const auto http = w.Events({"http"});
  ASSERT_EQ(http.size(), 4u);  // the score, then the replay, each started and ended
  EXPECT_EQ(w.Log()[static_cast<size_t>(
                        w.Find("http", "http://" + ScoreServerHost() + "/scores/replays"))]
                .value,
            "start");
  EXPECT_EQ(w.machine.TransferBody(), "game 5");
}

}  // namespace
}  // namespace qv::test

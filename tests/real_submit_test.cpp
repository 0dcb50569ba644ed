// real_submit_test.cpp -- the score submission through the real libcurl transfer to servers on
// 127.0.0.1, with the rest of the machine virtual; each turn also sleeps 1 ms of real time, so
// the transfer has as many real seconds as the wait has virtual ones.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "http_test_server.h"
#include "input/keyboard.h"
#include "platform/real/machine.h"
#include "store/scramble.h"
#include "submit/submit_score.h"
#include "support.h"

namespace qv::test {
namespace {

VirtualOptions WithSounds(const TempDir& dir) {
  VirtualOptions o;
  o.sounds_dir = dir / "sounds";
  WriteSoundSet(o.sounds_dir);
  for (const char* f : {"Sendwait.wav", "SendGood.wav", "senderror.wav"}) {
    WriteWav(o.sounds_dir + "/" + f, 200);
  }
  return o;
}

// As a form handler reads a query: "+" is a space, "%XX" a byte.
std::string FormDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i] == '+' ? ' ' : text[i];
    }
  }
  return out;
}

struct RealSubmit : ::testing::Test {
  RealSubmit()
      : machine(WithSounds(dir)), pg(Platform{machine, machine, machine, curl}, settings, &log) {
    log.Follow(Platform{machine, machine, machine, curl});
    machine.SetTurnHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
    machine.ShowWindow();
    InitKeyboard(pg.keyboard);
    settings.Store("Quorvane", "reg", "pname", "Zoë & Co=1+x");
    settings.Store("Quorvane", "reg", "pemail", "zoe@example.org");
    settings.Store("Quorvane", "settings", "difficulty", Scramble(pg.rng, "3"));
    settings.Store("QuorVane", "Settings", "HighScore", Scramble(pg.rng, "98765"));
  }
  ~RealSubmit() override { unsetenv("QUORVANE_SCORE_HOST"); }

  bool SubmitTo(int port) {
    setenv("QUORVANE_SCORE_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    size_t from = log.Entries().size();
    bool delivered = SubmitScore(pg.sender);
    std::string last_sound;
    for (size_t i = from; i < log.Entries().size(); ++i) {
      if (log.Entries()[i].op == "play") last_sound = log.Entries()[i].subject;
    }
    EXPECT_EQ(last_sound, delivered ? "SendGood.wav" : "senderror.wav");
    EXPECT_EQ(settings.Read("quorvane", "settings", "qv").has_value(), delivered);
    return delivered;
  }

  TempDir dir;
  SoundLog log;  // before the parts that tell it, so that it outlives them
  VirtualPlatform machine;
  CurlTransfer curl;
  IniStore settings;
  Program pg;
};

TEST_F(RealSubmit, OneGetArrivesWithTheStoredValues) {
  TinyHttpServer server(200);
  EXPECT_TRUE(SubmitTo(server.port()));
  const auto lines = server.request_lines();
  ASSERT_EQ(lines.size(), 1u);
  const std::string prefix = "GET /scores/quorvane.php?", suffix = " HTTP/1.1";
  ASSERT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
  std::string query =
      lines[0].substr(prefix.size(), lines[0].size() - prefix.size() - suffix.size());
  std::vector<std::pair<std::string, std::string>> fields;
  for (size_t start = 0; start <= query.size();) {
    size_t end = std::min(query.find('&', start), query.size());
    std::string field = query.substr(start, end - start);
    size_t eq = field.find('=');
    fields.emplace_back(field.substr(0, eq), FormDecode(field.substr(eq + 1)));
    start = end + 1;
  }
  EXPECT_EQ(fields,
            (std::vector<std::pair<std::string, std::string>>{{"password", "417bqwtn58"},
                                                              {"level", "3"},
                                                              {"score", "98765"},
                                                              {"name", "Zoë & Co=1+x"},
                                                              {"email", "zoe@example.org"}}));
  EXPECT_TRUE(pg.settings.ScoreSent);
}

TEST_F(RealSubmit, AnErrorARefusalAndNoAnswerFailAndTheNextSubmissionStillWorks) {
  {
    TinyHttpServer error(500);
    EXPECT_FALSE(SubmitTo(error.port()));
    EXPECT_EQ(error.request_lines().size(), 1u);
  }
  EXPECT_FALSE(SubmitTo(RefusingPort()));
  SilentListener silent;
  EXPECT_FALSE(SubmitTo(silent.port()));  // gives up after 21 ticks, the transfer still running
  EXPECT_FALSE(pg.settings.ScoreSent);
  TinyHttpServer ok(200);
  EXPECT_TRUE(SubmitTo(ok.port()));
  EXPECT_EQ(ok.request_lines().size(), 1u);
}

}  // namespace
}  // namespace qv::test

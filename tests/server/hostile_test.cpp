// hostile_test.cpp -- the real program against what a hostile or merely unusual client does:
// malformed heads, big pipelined answers taken slowly, a stop with requests still unread, few
// files, a deleted WAL, thousands of clients that never read, heads sent a byte at a time.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "support.h"

// GCC says it builds with AddressSanitizer by a macro, clang by a feature.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_CLANG_ASAN 1
#endif
#endif
#ifndef QV_CLANG_ASAN
#define QV_CLANG_ASAN 0
#endif

namespace scores::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::string Get(const std::string& target, const std::string& extra = "Host: x\r\n") {
  return "GET " + target + " HTTP/1.1\r\n" + extra + "\r\n";
}

struct ServerProgram {
  explicit ServerProgram(int open_files = 0)
      : program({"--listen", "127.0.0.1:0", "--db", db}, false, open_files) {}
  TempDir dir;
  std::string db = dir.path() / "scores.db";
  Program program;
  int port = program.WaitForPort().value_or(0);
};

// Stores `count` distinct submissions over one pipelined connection.
void Fill(int port, int count, const std::string& name) {
  RawClient client(port);
  std::string all;
  for (int i = 0; i < count; ++i)
    all += Get(SubmissionPath(1 + i % 3, std::to_string(i), name, ""));
  ASSERT_TRUE(client.Send(all));
  for (int i = 0; i < count; ++i) ASSERT_EQ(client.Read().status, 200) << i;
}

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// A NUL in a method or a field name would let a proxy that cuts names at NUL read another
// request than the server; HTTP/1.1 needs exactly one Host; an absolute URL is a valid target.
TEST(Hostile, RefusesNulsAndHostFaultsAndServesAnAbsoluteTarget) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  using namespace std::string_literals;
  struct Case {
    std::string bytes;
    int status;
  };
  const Case cases[] = {
      {"G\0T /scores/ HTTP/1.1\r\nHost: x\r\n\r\n"s, 400},
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nX-\0A: b\r\n\r\n"s, 400},
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nTransfer-Encoding\0: chunked\r\n\r\n"s, 400},
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nContent-Length\0: 5\r\n\r\nhello"s, 400},
      {"GET /scores/\0x HTTP/1.1\r\nHost: x\r\n\r\n"s, 400},
      {"GET /scores/ HTTP/1.1\r\n\r\n", 400},
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nhost: y\r\n\r\n", 400},
      {"GET /scores/ HTTP/1.0\r\n\r\n", 200},
      {"GET http://scores.example/scores/?format=json HTTP/1.1\r\nHost: x\r\n\r\n", 200},
      {"GET HTTP://scores.example HTTP/1.1\r\nHost: x\r\n\r\n", 404},
      {"GET ftp://scores.example/scores/ HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      // What the server's own parser refused before, still refused.
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 413},
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 413},
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nContent-Length: five\r\n\r\n", 400},
      {"GET /scores/ HTTP/2.0\r\nHost: x\r\n\r\n", 505},
      {"GET  /scores/ HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"GET /scores/ http/1.1\r\nHost: x\r\n\r\n", 400},
      {"GET /scores/ HTTP/1.1\r\nHost : x\r\n\r\n", 400},
      {"GET /scores/ HTTP/1.1\r\nHost: x\r\nX: a\rb\r\n\r\n", 400},
      {Get("/" + std::string(kMaxRequestLine, 'a')), 414},
      {Get("/scores/", "Host: x\r\nX: " + std::string(kMaxHeaderBytes, 'b') + "\r\n"), 431},
      {Get("/scores/", "Host: x\r\nX: " + std::string(kMaxHeaderBytes - 20, 'b') + "\r\n"), 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 80)));
    RawClient client(server.port);
    ASSERT_TRUE(client.Send(c.bytes));
    EXPECT_EQ(client.Read().status, c.status);
  }
}

// Five hundred page requests in one write (20 KB, read by the server at once), from a client
// that starts reading a second later: their answers, 34 MB, fill every buffer between them
// many times over, so the server must go on answering requests it has already read each time
// its output drains, with nothing new arriving. Every one is answered, in order.
TEST(Hostile, AnswersEveryPipelinedPageToALateReader) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  Fill(server.port, 300, Repeat("\xC3\xA9", 64));  // a full board of long names
  RawClient client(server.port);
  ASSERT_TRUE(client.Send(Repeat(Get("/scores/?all=1"), 500)));  // every score, verified or not
  std::this_thread::sleep_for(seconds(1));
  std::size_t bytes = 0;
  for (int i = 0; i < 500; ++i) {
    Reply page = client.Read(false, seconds(10));
    ASSERT_EQ(page.status, 200) << i;
    bytes += page.body.size();
  }
  std::printf("500 pages of %zu KB taken a second late\n", bytes / 500 / 1024);
  EXPECT_GT(bytes / 500, 64u * 1024);
}

// Sixty connections, each with sixty submissions in one write, and SIGTERM right behind them:
// every submission on the sockets is answered and stored before the server ends.
TEST(Hostile, AnswersEveryPipelinedSubmissionAlreadySentWhenStopped) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  std::vector<std::unique_ptr<RawClient>> clients;
  for (int c = 0; c < 60; ++c) {
    clients.push_back(std::make_unique<RawClient>(server.port));
    std::string all;
    for (int i = 0; i < 60; ++i) {
      all += Get(SubmissionPath(1, std::to_string(i), "c" + std::to_string(c), ""));
    }
    ASSERT_TRUE(clients.back()->Send(all));
  }
  server.program.Signal(SIGTERM);
  int answered = 0;
  for (auto& client : clients) {
    for (int i = 0; i < 60 && client->Read(false, seconds(10)).status == 200; ++i) ++answered;
  }
  EXPECT_EQ(server.program.Wait(seconds(30)), 0) << server.program.Errors();
  EXPECT_EQ(answered, 3600);
  EXPECT_EQ(SqliteRows(server.db).size(), 3600u);
}

// With 64 files the server cannot hold 60 connections; the ones it cannot take wait for a
// place, and every honest client is served in full.
TEST(Hostile, ServesEveryHonestClientWhenFilesAreFew) {
  ServerProgram server(64);
  ASSERT_NE(server.port, 0) << server.program.Errors();
  std::atomic<int> served = 0;
  std::vector<std::thread> clients;
  for (int c = 0; c < 60; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client = LocalClient(server.port);
      client.set_keep_alive(true);
      client.set_read_timeout(60, 0);
      for (int i = 0; i < 20; ++i) {
        auto reply =
            client.Get(i % 2 ? "/scores/?format=json"
                             : SubmissionPath(2, std::to_string(i), std::to_string(c), ""));
        if (reply && reply->status == 200) ++served;
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(served, 1200);
}

// The WAL deleted under a running server, then the server killed once it has noticed (at the
// next submission): every submission it acknowledged is in the database after a restart, and
// it acknowledges none after the deletion.
TEST(Hostile, KeepsAcknowledgedSubmissionsWhenTheWalIsDeletedAndTheServerKilled) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  Fill(server.port, 400, "before");
  std::filesystem::remove(server.db + "-wal");
  RawClient after(server.port);
  after.Send(Get(SubmissionPath(1, "1", "after", "")));
  int late = after.Read().status;
  server.program.Signal(SIGKILL);
  server.program.Wait(seconds(10));
  Finished count = RunProgram({"--db", server.db, "--count"});
  ASSERT_EQ(count.status, 0) << count.err;
  EXPECT_EQ(std::stoi(count.out), late == 200 ? 401 : 400);
  EXPECT_EQ(late, 503);
}

// A thousand clients ask for pages and never read the answers: the server holds little for
// each, and gives it back when they leave.
TEST(Hostile, HoldsLittleForClientsThatNeverReadAndGivesItBack) {
#if defined(__SANITIZE_ADDRESS__) || QV_CLANG_ASAN
  GTEST_SKIP() << "AddressSanitizer's quarantine and shadow memory make the figures meaningless";
#endif
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, 4096);
  setrlimit(RLIMIT_NOFILE, &files);
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  Fill(server.port, 300, Repeat("\xC3\xA9", 64));
  std::int64_t before = server.program.Memory();
  int open_before = server.program.OpenSockets();
  {
    std::vector<std::unique_ptr<RawClient>> clients;
    const std::string pages = Repeat(Get("/scores/?all=1"), 50);  // the full board
    for (int c = 0; c < 1000; ++c) {
      clients.push_back(std::make_unique<RawClient>(server.port));
      ASSERT_TRUE(clients.back()->Send(pages));
    }
    // Until every client has an answer waiting and the bytes waiting stop growing: the server
    // has done all it will for them.
    std::size_t waiting = 0;
    for (int still = 0; still < 5;) {
      std::this_thread::sleep_for(milliseconds(200));
      std::size_t now = 0;
      int answered = 0;
      for (auto& client : clients) {
        int bytes = 0;
        ioctl(client->fd(), FIONREAD, &bytes);
        now += static_cast<std::size_t>(bytes);
        answered += bytes > 0;
      }
      still = answered == 1000 && now == waiting ? still + 1 : 0;
      waiting = now;
    }
    std::printf("1000 clients hold %zu MB of answers unread; the server %.1f MB, at most %.1f MB\n",
                waiting >> 20, static_cast<double>(server.program.Memory()) / (1 << 20),
                static_cast<double>(server.program.PeakMemory()) / (1 << 20));
  }
  EXPECT_LT(server.program.PeakMemory(), 128 << 20);
  // Once the server has closed every one of their connections, the memory they cost is given
  // back. (The bound on the wait only keeps a broken server from hanging the test.)
  for (int i = 0; i < 1200 && server.program.OpenSockets() > open_before; ++i) {
    std::this_thread::sleep_for(milliseconds(50));
  }
  ASSERT_LE(server.program.OpenSockets(), open_before);
  std::int64_t after = server.program.Memory();
  std::printf("memory before %.1f MB, after they left %.1f MB\n",
              static_cast<double>(before) / (1 << 20), static_cast<double>(after) / (1 << 20));
  EXPECT_LT(after, before + (16 << 20));
}

// Forty clients send 5 KB heads a byte at a time, each byte in a segment of its own, while a
// player submits scores. The server reads such a head once a tick, not at every byte: its loop
// spends a small part of the time on them instead of all of it, the player waits about as long
// as without them, and every head is answered in the end. Both figures are taken in the same
// run, so that the machine's speed cancels out.
TEST(Hostile, ReadsHeadsSentAByteAtATimeOnceATick) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  httplib::Client player = LocalClient(server.port);
  player.set_keep_alive(true);
  int submitted = 0;
  auto median_wait = [&](const std::function<bool()>& go_on) {
    std::vector<double> waits;
    do {
      auto sent = std::chrono::steady_clock::now();
      auto reply = player.Get(SubmissionPath(1, std::to_string(submitted++), "player", ""));
      EXPECT_TRUE(reply && reply->status == 200);
      waits.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent)
              .count());
      // A player's pace, not a flood of its own.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (go_on());
    std::sort(waits.begin(), waits.end());
    return waits[waits.size() / 2];
  };
  double alone = median_wait([&] { return submitted < 200; });

  std::string head = "GET /nowhere HTTP/1.1\r\nHost: x\r\n";
  for (int i = 0; head.size() < 5000; ++i) head += "X-F" + std::to_string(i) + ": vvvvvvvv\r\n";
  head += "\r\n";
  std::vector<std::unique_ptr<RawClient>> senders;
  for (int c = 0; c < 40; ++c) {
    senders.push_back(std::make_unique<RawClient>(server.port));
    int one = 1;
    setsockopt(senders.back()->fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  std::atomic<bool> sending = true;
  std::thread dribble([&] {
    for (char byte : head) {
      for (auto& sender : senders) sender->Send(std::string_view(&byte, 1));
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    sending = false;
  });
  // The loop's time is taken once the server has had time to see that the heads are slow.
  std::int64_t cpu_before = 0;
  std::chrono::steady_clock::time_point start;
  auto started = std::chrono::steady_clock::now();
  double among_them = median_wait([&] {
    if (cpu_before == 0 && std::chrono::steady_clock::now() - started > milliseconds(500)) {
      cpu_before = server.program.LoopCpuTime();
      start = std::chrono::steady_clock::now();
    }
    return sending.load();
  });
  dribble.join();
  ASSERT_NE(cpu_before, 0);
  double cpu = static_cast<double>(server.program.LoopCpuTime() - cpu_before);
  double wall = static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
          .count());
  int answered = 0;
  for (auto& sender : senders) answered += sender->Read().status == 404;
  std::printf(
      "40 heads of %zu bytes a byte at a time: the loop busy %.0f %% of the time; the player's "
      "median %.2f ms (alone %.2f ms)\n",
      head.size(), 100 * cpu / wall, among_them, alone);
  EXPECT_LT(cpu, 0.15 * wall);
  EXPECT_LT(among_them, 2 * alone + 1);
  EXPECT_EQ(answered, 40);
}

}  // namespace
}  // namespace scores::test

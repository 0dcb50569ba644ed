// connections_test.cpp -- the server's connections against clients that are slow, oversized,
// pipelined or cut off by a stop: the real program where its figures matter, the routes in
// this process where a short deadline keeps the test short.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "support.h"

namespace scores::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string Get(const std::string& target, const std::string& method = "GET") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

struct ServerProgram {
  TempDir dir;
  std::string db = dir.path() / "scores.db";
  Program program{{"--listen", "127.0.0.1:0", "--db", db}};
  int port = program.WaitForPort().value_or(0);
};

// Each slow client holds a connection and sends a byte of its request now and then, as an
// attacker on a slow line would; a player's submissions must still be answered at once.
TEST(Connections, AnswersAtOnceWhile200ClientsSendTheirRequestsAByteAtATime) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 200; ++i) {
    slow.push_back(std::make_unique<RawClient>(server.port));
    ASSERT_TRUE(slow.back()->Send("G"));
  }

  httplib::Client player = LocalClient(server.port);
  std::vector<double> waits;
  int answered = 0;
  const std::string more = "ET /scores/ HTTP/1.1\r\n";
  auto start = Clock::now();
  for (int i = 0; MillisecondsSince(start) < 3000; ++i) {
    if (i % 10 == 9) {
      for (auto& client : slow) client->Send(more.substr(static_cast<std::size_t>(i / 10), 1));
    }
    auto sent = Clock::now();
    auto reply = player.Get(SubmissionPath(1, std::to_string(i), "player", ""));
    waits.push_back(MillisecondsSince(sent));
    if (reply && reply->status == 200) ++answered;
    std::this_thread::sleep_for(milliseconds(100));
  }
  std::sort(waits.begin(), waits.end());
  std::printf(
      "200 slow connections held; %d of %zu answered 200, median %.1f ms, slowest %.1f ms\n",
      answered, waits.size(), waits[waits.size() / 2], waits.back());
  EXPECT_EQ(answered, static_cast<int>(waits.size()));
  EXPECT_LT(waits.back(), 1000.0);
}

// A short deadline here, so the test does not wait the program's few seconds.
TEST(Connections, GivesTheWholeHeadADeadlineAndLetsClientsWaitForAPlace) {
  TempDir dir;
  auto store = OpenStore(dir.path() / "scores.db");
  HttpOptions options;
  options.request_timeout = milliseconds(500);
  options.max_connections = 8;
  RunningServer server(*store, options);

  // Eight connections that send nothing fill the server; a ninth client waits in the kernel's
  // queue, nobody is closed for it, and it is served once the idle ones reach their deadline.
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 8; ++i) idle.push_back(std::make_unique<RawClient>(server.port()));
  EXPECT_EQ(server.Get("/scores/?format=json").status, 200);
  EXPECT_TRUE(idle[0]->ClosedWithin(milliseconds(5000)));

  // A byte every 100 ms keeps no connection past the deadline: the head as a whole is late.
  RawClient drip(server.port());
  auto start = Clock::now();
  for (char c : Get("/scores/")) {
    if (MillisecondsSince(start) > 700 || !drip.Send(std::string(1, c))) break;
    std::this_thread::sleep_for(milliseconds(100));
  }
  EXPECT_EQ(drip.Read().status, 408);
  EXPECT_GE(MillisecondsSince(start), 450.0);
  EXPECT_TRUE(drip.ClosedWithin(milliseconds(2500)));
  // One that sent nothing is closed without a word.
  EXPECT_TRUE(idle[7]->ClosedWithin(milliseconds(500)));
}

// Sixteen clients each flood a connection, as fast as loopback allows, with a head that never
// ends: a request line (odd ones) or header fields (even ones), reading the answer meanwhile.
TEST(Connections, RefusesOversizedHeadsAtOnceWithoutHoldingThem) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  constexpr std::size_t kEach = 50 << 20;
  std::atomic<std::size_t> total = 0;
  std::vector<std::thread> clients;
  for (int i = 0; i < 16; ++i) {
    clients.emplace_back([&, i] {
      RawClient client(server.port);
      std::string start = i % 2 ? "GET /scores/" : "GET /scores/ HTTP/1.1\r\n";
      std::string chunk;
      while (chunk.size() < 64 * 1024)
        chunk += i % 2 ? "a" : "X-Pad: " + std::string(91, 'h') + "\r\n";
      std::atomic<std::size_t> sent = 0;
      std::thread sender([&] {
        sent = client.Send(start) ? start.size() : 0;
        while (sent < kEach && client.Send(chunk)) sent += chunk.size();
      });
      EXPECT_EQ(client.Read(false, std::chrono::seconds(20)).status, i % 2 ? 414 : 431) << i;
      // Answered while the client was still sending, not once it had sent it all.
      EXPECT_LT(sent.load(), kEach) << i;
      sender.join();
      total += sent.load();
    });
  }
  for (auto& client : clients) client.join();
  std::int64_t peak = server.program.PeakMemory();
  std::printf("16 connections sent %zu MB of heads; the server's peak memory %.1f MB\n",
              total >> 20, static_cast<double>(peak) / (1 << 20));
  EXPECT_LT(peak, 64 << 20);
  // And it still serves.
  RawClient after(server.port);
  after.Send(Get("/scores/"));
  EXPECT_EQ(after.Read().status, 200);
}

TEST(Connections, AnswersPipelinedRequestsInOrderAndEveryOneReadBeforeAStop) {
  ServerProgram server;
  ASSERT_NE(server.port, 0) << server.program.Errors();
  RawClient client(server.port);
  ASSERT_TRUE(client.Send(Get(SubmissionPath(1, "100", "Ann", "")) + Get("/scores/?format=json") +
                          Get(SubmissionPath(9, "100", "Ann", "")) + Get("/nowhere") +
                          Get(SubmissionPath(1, "200", "Bo", ""), "HEAD") +
                          Get("/scores/", "HEAD") + Get(SubmissionPath(1, "100", "Ann", ""))));
  struct Expected {
    int status;
    std::string body;
    bool head = false;
  };
  // A HEAD's answer has no body, whatever its status.
  const Expected expected[] = {
      {200, "stored\n"},        {200, ""}, {400, ""}, {404, ""}, {405, "", true}, {200, "", true},
      {200, "already stored\n"}};
  for (const Expected& e : expected) {
    Reply answer = client.Read(e.head);
    EXPECT_EQ(answer.status, e.status) << answer.headers;
    if (!e.body.empty()) {
      EXPECT_EQ(answer.body, e.body);
    }
    if (e.status == 200 && e.head) {
      // The page's length, without the page.
      EXPECT_NE(answer.headers.find("Content-Length: "), std::string::npos);
      EXPECT_EQ(answer.headers.find("Content-Length: 0\r\n"), std::string::npos);
    }
  }

  // Six submissions in one write, and the stop right behind them: all six are answered.
  RawClient last(server.port);
  std::string six;
  for (int i = 0; i < 6; ++i) six += Get(SubmissionPath(2, std::to_string(i), "Cy", ""));
  ASSERT_TRUE(last.Send(six));
  std::this_thread::sleep_for(milliseconds(20));
  server.program.Signal(SIGTERM);
  for (int i = 0; i < 6; ++i) {
    Reply answer = last.Read();
    EXPECT_EQ(answer.status, 200) << i;
    EXPECT_EQ(answer.body, "stored\n");
  }
  EXPECT_TRUE(last.ClosedWithin(milliseconds(2000)));
  EXPECT_EQ(server.program.Wait(std::chrono::seconds(10)), 0);
  auto rows = SqliteRows(server.db);
  EXPECT_EQ(rows.size(), 7u);  // Ann, and Cy's six; Bo's HEAD stored nothing
  EXPECT_TRUE(std::none_of(rows.begin(), rows.end(), [](auto& r) { return r.name == "Bo"; }));
}

}  // namespace
}  // namespace scores::test

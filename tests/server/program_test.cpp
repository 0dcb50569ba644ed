// program_test.cpp -- the quorvane-scores program itself: its options, its start on a database
// it cannot use, and its stop on a signal.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>

#include "support.h"

namespace scores::test {
namespace {

TEST(Program, PrintsUsageForHelpAndRefusesBadUsageWithStatus2) {
  Finished help = RunProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: quorvane-scores"), std::string::npos);
  EXPECT_NE(help.out.find("quorvane-scores.db"), std::string::npos);
  for (const auto& args : std::vector<std::vector<std::string>>{{"--bogus"},
                                                                {"--listen"},
                                                                {"--listen", "8080"},
                                                                {"--listen", "host:99999"},
                                                                {"--db"},
                                                                {"--help=yes"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    Finished bad = RunProgram(args);
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("Usage:"), std::string::npos);
  }
}

TEST(Program, ExitsWithStatus1WhenItCannotUseTheDatabaseOrTheAddress) {
  Finished file = RunProgram({"--db", "/nonexistent/dir/x.db"});
  EXPECT_EQ(file.status, 1);
  EXPECT_NE(file.err.find("cannot open SQLite database /nonexistent/dir/x.db"), std::string::npos)
      << file.err;

  // Port 1 on loopback: nothing listens there, so the connection is refused at once.
  Finished pg = RunProgram({"--db", "postgresql://127.0.0.1:1/scores?connect_timeout=5"});
  EXPECT_EQ(pg.status, 1);
  EXPECT_NE(pg.err.find("cannot connect to PostgreSQL"), std::string::npos) << pg.err;

  TempDir dir;
  int occupant = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(occupant, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(occupant, 1), 0);
  getsockname(occupant, reinterpret_cast<sockaddr*>(&address), &length);
  int port = ntohs(address.sin_port);
  Finished busy = RunProgram(
      {"--db", dir.path() / "scores.db", "--listen", "127.0.0.1:" + std::to_string(port)});
  EXPECT_EQ(busy.status, 1);
  EXPECT_NE(busy.err.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << busy.err;
  close(occupant);
}

// A database the server may not write: a read-only file, with the WAL files a killed server
// left beside it, or a read-only folder. Either is found at start, not at the first submission.
TEST(Program, RefusesToStartOnADatabaseItCannotWrite) {
  for (bool folder : {false, true}) {
    SCOPED_TRACE(folder ? "read-only folder" : "read-only file");
    TempDir dir;
    const std::string db = dir.path() / "scores.db";
    {
      Program first({"--listen", "127.0.0.1:0", "--db", db});
      std::optional<int> port = first.WaitForPort();
      ASSERT_TRUE(port) << first.Errors();
      ASSERT_TRUE(LocalClient(*port).Get(SubmissionPath(1, "5", "Ann", "")));
      first.Signal(folder ? SIGTERM : SIGKILL);  // a clean stop removes the WAL files
      first.Wait(std::chrono::seconds(10));
    }
    // Run as nobody when the tests run as root, for whom no permission holds.
    passwd* nobody = getpwnam("nobody");
    for (const char* suffix : {"", "-wal", "-shm"}) {
      std::string file = db + suffix;
      if (folder && nobody && chown(file.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
        ASSERT_FALSE(std::filesystem::exists(file)) << file;
      }
      if (!folder) {
        ASSERT_EQ(chmod(file.c_str(), 0444), 0) << file;
      }
    }
    ASSERT_EQ(chmod(dir.path().c_str(), folder ? 0555 : 0755), 0);
    Finished run = RunProgram({"--listen", "127.0.0.1:0", "--db", db}, true);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.out.find("listening"), std::string::npos);
    EXPECT_NE(run.err.find("SQLite database " + db), std::string::npos) << run.err;
  }
}

// Clients keep submitting while the signal arrives. Every submission answered 200 must be in
// the database afterwards, even when the server is killed, and the file must be whole: the
// count after a restart works and the server serves the same data again.
TEST(Program, KeepsEverySubmissionItAcceptedWhenStoppedOrKilled) {
  for (int stop_signal : {SIGTERM, SIGINT, SIGKILL}) {
    SCOPED_TRACE(strsignal(stop_signal));
    TempDir dir;
    std::string db = dir.path() / "scores.db";
    Program server({"--listen", "127.0.0.1:0", "--db", db});
    std::optional<int> port = server.WaitForPort();
    ASSERT_TRUE(port) << server.Errors();

    std::atomic<int> accepted = 0;
    std::atomic<int> sent = 0;
    std::atomic<bool> started[2] = {false, false};
    std::atomic<bool> give_up = false;  // ends the clients should the server keep serving
    std::vector<std::thread> clients;
    for (int c = 0; c < 2; ++c) {
      clients.emplace_back([&, c] {
        httplib::Client client = LocalClient(*port);
        for (int i = 0; !give_up; ++i) {
          ++sent;
          auto reply = client.Get(SubmissionPath(1 + c, std::to_string(i), "client", ""));
          if (!reply || reply->status != 200) break;
          ++accepted;
          if (i == 20) started[c] = true;
        }
        started[c] = true;  // also when the server failed early, so the test goes on to fail
      });
    }
    while (!started[0] || !started[1]) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    server.Signal(stop_signal);
    // Nullopt when it is still running: a stop that hangs.
    std::optional<int> status = server.Wait(std::chrono::seconds(10));
    give_up = true;
    for (auto& client : clients) client.join();

    if (stop_signal != SIGKILL) {
      EXPECT_EQ(status, 0) << server.Errors();
      EXPECT_NE(server.Output().find("stopped"), std::string::npos);
    }

    Finished count = RunProgram({"--db", db, "--count"});
    ASSERT_EQ(count.status, 0) << count.err;
    int stored = std::stoi(count.out);
    EXPECT_GE(stored, accepted.load());
    EXPECT_LE(stored, sent.load());

    Program again({"--listen", "127.0.0.1:0", "--db", db});
    std::optional<int> again_port = again.WaitForPort();
    ASSERT_TRUE(again_port) << again.Errors();
    auto page = LocalClient(*again_port).Get("/scores/?format=json");
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find(R"({"rank":1,"name":"client")"), std::string::npos);
  }
}

// The browser version at /play/: each file with its type (WebAssembly as application/wasm, which
// browsers need to compile it as it arrives), revalidated at each load by its entity tag; nothing
// outside the folder, however the path is written; and a folder without the game leaves /play/
// unserved and says so.
TEST(Program, ServesTheBrowserVersionAtPlay) {
  TempDir dir;
  const auto play = dir.path() / "play";
  std::filesystem::create_directories(play / "sounds");
  auto write = [](const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  };
  write(play / "index.html", "<!DOCTYPE html><title>QuorVane</title>");
  write(play / "quorvane.wasm", std::string("\0asm\1\0\0\0", 8));
  write(play / "sounds" / "gun.opus", "OggS");
  write(dir.path() / "secret.txt", "not for the web");
  std::filesystem::create_symlink(dir.path() / "secret.txt", play / "secret.txt");
  Program server({"--listen", "127.0.0.1:0", "--db", dir.path() / "scores.db", "--play", play});
  std::optional<int> port = server.WaitForPort();
  ASSERT_TRUE(port) << server.Errors();
  httplib::Client client = LocalClient(*port);

  auto page = client.Get("/play/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body, "<!DOCTYPE html><title>QuorVane</title>");
  EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(page->get_header_value("Cache-Control"), "no-cache");
  const std::string etag = page->get_header_value("ETag");
  ASSERT_FALSE(etag.empty());
  auto again = client.Get("/play/", {{"If-None-Match", etag}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  EXPECT_TRUE(again->body.empty());
  auto wasm = client.Get("/play/quorvane.wasm");
  ASSERT_TRUE(wasm);
  EXPECT_EQ(wasm->get_header_value("Content-Type"), "application/wasm");
  EXPECT_EQ(wasm->body.size(), 8u);
  EXPECT_NE(wasm->get_header_value("ETag"), etag);
  auto sound = client.Head("/play/sounds/gun.opus");
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->status, 200);
  EXPECT_EQ(sound->get_header_value("Content-Type"), "audio/ogg");
  auto moved = client.Get("/play");
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->status, 301);
  EXPECT_EQ(moved->get_header_value("Location"), "/play/");
  for (const char* outside : {"/play/../scores.db", "/play/%2e%2e/scores.db", "/play/secret.txt",
                              "/play/sounds/", "/play//index.html", "/play/./index.html"}) {
    SCOPED_TRACE(outside);
    auto refused = client.Get(outside);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 404);
  }
  auto post = client.Post("/play/index.html", "", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);

  Program bare({"--listen", "127.0.0.1:0", "--db", dir.path() / "bare.db", "--play",
                dir.path() / "nothing"});
  std::optional<int> bare_port = bare.WaitForPort();
  ASSERT_TRUE(bare_port) << bare.Errors();
  auto none = LocalClient(*bare_port).Get("/play/");
  ASSERT_TRUE(none);
  EXPECT_EQ(none->status, 404);
  EXPECT_NE(bare.Output().find("/play/ is not served"), std::string::npos) << bare.Output();
}

}  // namespace
}  // namespace scores::test

// replays_test.cpp -- the score server takes a game's replay, runs it again with the game's own
// code and marks the score it makes as verified, with its game to listen to; a forged replay is
// refused with the reason kept; two servers on one PostgreSQL database check each replay once.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include "platform/replay/replay_file.h"
#include "support.h"

namespace scores::test {
namespace {

using namespace std::chrono_literals;

// Games recorded by the simulator with the game's own sounds, which the server checks them
// with: a game the bot wins at difficulty 2, as "Ann", and a game left at its first launch.
struct Recorded {
  Recorded() {
    std::ofstream(dir.path() / "settings.ini") << "[Quorvane/reg]\npname=Ann\n";
    Record(
        "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\n"
        "tap Down\nsleep 2500\ntap Return\nwait play final.wav\nwait play menuprompt.wav\n"
        "tap Escape\n",
        "won", "--bot 200");
    Record(
        "wait play menuprompt.wav\ntap Return\nwait play difficulty.wav\nsleep 300\n"
        "tap Return\nwait play launch.wav\ntap Escape\nwait play menuprompt.wav\ntap Escape\n",
        "short", "");
    won = ReadFile(dir.path() / "won" / "game-1.qvr");
    short_game = ReadFile(dir.path() / "short" / "game-1.qvr");
  }
  void Record(const std::string& script, const std::string& name, const std::string& bot) {
    std::ofstream(dir.path() / (name + ".txt")) << script;
    const std::string command = std::string(QV_SIM_PATH) + " " + bot + " --settings " +
                                (dir.path() / "settings.ini").string() + " --script " +
                                (dir.path() / (name + ".txt")).string() + " --record " +
                                (dir.path() / name).string() + " >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
  }
  TempDir dir;
  std::string won, short_game;
};

const Recorded& Games() {
  static const Recorded games;
  return games;
}

Reply Post(int port, const std::string& body) {
  auto r = LocalClient(port).Post("/scores/replays", body, "application/octet-stream");
  return r ? Reply{r->status, r->body, {}} : Reply{};
}

Reply Get(int port, const std::string& path) {
  auto r = LocalClient(port).Get(path);
  return r ? Reply{r->status, r->body, {}} : Reply{};
}

std::string Field(const std::string& json, const std::string& name) {
  std::smatch m;
  const std::regex field("\"" + name + "\":(\"(?:[^\"\\\\]|\\\\.)*\"|[-0-9a-z]+)");
  return std::regex_search(json, m, field) ? m[1].str() : "";
}

// The replay's record once it has been checked: waits for it, however long checking takes.
std::string Checked(int port, const std::string& id) {
  for (;;) {
    const Reply r = Get(port, "/scores/replays/" + id);
    const std::string state = Field(r.body, "state");
    if (state == "\"verified\"" || state == "\"refused\"") return r.body;
    EXPECT_EQ(r.status, 200) << r.body;
    if (r.status != 200) return r.body;
    std::this_thread::sleep_for(20ms);
  }
}

TEST(Replays, AVerifiedGameMarksItsScoreAndCanBeHeard) {
  TempDir dir;
  Program server({"--listen", "127.0.0.1:0", "--db", (dir.path() / "s.db").string()});
  const int port = server.WaitForPort().value();
  const qv::Replay replay = qv::DecodeReplay(Games().won);
  const Reply posted = Post(port, Games().won);
  ASSERT_EQ(posted.status, 202) << posted.body;
  const std::string id = Field(posted.body, "id");
  const std::string record = Checked(port, id);
  EXPECT_EQ(Field(record, "state"), "\"verified\"") << record;
  EXPECT_EQ(Field(record, "score"), std::to_string(replay.claimed.score));
  EXPECT_EQ(Field(record, "name"), "\"Ann\"");
  EXPECT_EQ(Post(port, Games().won).body, posted.body) << "the same replay again";

  // The score it made is verified once it is submitted, and not one it did not make.
  const std::string score = std::to_string(replay.claimed.stored);
  ASSERT_EQ(Get(port, SubmissionPath(2, score, "Ann", "ann@example.org")).status, 200);
  ASSERT_EQ(Get(port, SubmissionPath(2, score, "Bo", "")).status, 200);
  std::string board;
  do {  // a page is made afresh within a second
    board = Get(port, "/scores/?format=json").body;
  } while (board.find("\"verified\":true") == std::string::npos);
  EXPECT_NE(board.find("\"name\":\"Ann\",\"score\":" + score), std::string::npos) << board;
  EXPECT_NE(board.find("\"verified\":true,\"replay\":" + id), std::string::npos) << board;
  EXPECT_NE(board.find("\"name\":\"Bo\",\"score\":" + score + ",\"date\":"), std::string::npos);
  const std::string page = Get(port, "/scores/").body;
  EXPECT_NE(page.find("src=\"/scores/replays/" + id + "/audio\""), std::string::npos);
  EXPECT_EQ(page.find(">Bo<"), std::string::npos) << "an unverified score on the default page";
  EXPECT_NE(Get(port, "/scores/?all=1").body.find(">Bo<"), std::string::npos);

  auto audio = LocalClient(port).Get("/scores/replays/" + id + "/audio");
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->status, 200);
  EXPECT_EQ(audio->get_header_value("Content-Type"), "audio/ogg");
  EXPECT_EQ(audio->body.substr(0, 4), "OggS");
  EXPECT_NE(audio->body.find("OpusHead"), std::string::npos);
  // A browser's player asks for parts, to learn the game's length and to seek in it.
  const std::size_t bytes = audio->body.size();
  const std::string size = std::to_string(bytes);
  EXPECT_EQ(audio->get_header_value("Accept-Ranges"), "bytes");
  for (const auto& [range, status, content_range, part] :
       std::vector<std::tuple<std::string, int, std::string, std::string>>{
           {"bytes=0-3", 206, "bytes 0-3/" + size, "OggS"},
           {"bytes=-4", 206,
            "bytes " + std::to_string(bytes - 4) + "-" + std::to_string(bytes - 1) + "/" + size,
            audio->body.substr(bytes - 4)},
           {"bytes=" + size + "-", 416, "bytes */" + size, ""},
           {"bytes=5-2", 200, "", audio->body},
           {"bytes=0-1,4-5", 200, "", audio->body}}) {
    auto r = LocalClient(port).Get("/scores/replays/" + id + "/audio", {{"Range", range}});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, status) << range;
    EXPECT_EQ(r->get_header_value("Content-Range"), content_range);
    EXPECT_TRUE(r->body == part) << range;
  }
}

TEST(Replays, AForgedReplayIsRefusedWithItsReasonKeptAndAHugeOneIsNotTaken) {
  TempDir dir;
  Program server({"--listen", "127.0.0.1:0", "--db", (dir.path() / "s.db").string()});
  const int port = server.WaitForPort().value();
  qv::Replay edited = qv::DecodeReplay(Games().short_game);
  edited.claimed.score += 5000;
  for (const auto& [body, reason] : std::vector<std::pair<std::string, std::string>>{
           {qv::EncodeReplay(edited), "The replay claims score"},
           {"RIFF, not a replay", "This is not a QuorVane replay."}}) {
    const Reply posted = Post(port, body);
    ASSERT_EQ(posted.status, 202);
    const std::string record = Checked(port, Field(posted.body, "id"));
    EXPECT_EQ(Field(record, "state"), "\"refused\"");
    EXPECT_NE(Field(record, "reason").find(reason), std::string::npos) << record;
    EXPECT_EQ(Get(port, "/scores/replays/" + Field(posted.body, "id") + "/audio").status, 404);
  }
  RawClient huge(port);  // refused from its head, before its body comes
  ASSERT_TRUE(huge.Send("POST /scores/replays HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                        std::to_string(qv::kReplayFileLimit + 1) + "\r\n\r\n"));
  EXPECT_EQ(huge.Read().status, 413);
  EXPECT_EQ(Get(port, "/scores/replays/999").status, 404);
}

// A server started without the game's sounds would refuse every honest game: it keeps them
// queued, and a server with the sounds checks them later.
TEST(Replays, WithoutTheSoundsReplaysWaitForAServerWithThem) {
  TempDir dir;
  const std::string db = (dir.path() / "s.db").string();
  std::string id;
  {
    Program deaf({"--listen", "127.0.0.1:0", "--db", db, "--sounds", dir.path().string()});
    const int port = deaf.WaitForPort().value();
    const Reply posted = Post(port, Games().won);
    ASSERT_EQ(posted.status, 202);
    id = Field(posted.body, "id");
    EXPECT_NE(deaf.Output().find("no game sounds in " + dir.path().string()), std::string::npos);
    EXPECT_EQ(Field(Get(port, "/scores/replays/" + id).body, "state"), "\"queued\"");
  }
  Program server({"--listen", "127.0.0.1:0", "--db", db});
  EXPECT_EQ(Field(Checked(server.WaitForPort().value(), id), "state"), "\"verified\"");
}

// Two servers on one database share the queue; each replay is checked once, and both check.
TEST(PostgresReplays, TwoServersCheckTwoHundredReplaysOnceEach) {
  PgCluster cluster;
  const std::string url = cluster.NewDatabase();
  Program a({"--listen", "127.0.0.1:0", "--db", url});
  Program b({"--listen", "127.0.0.1:0", "--db", url});
  const int ports[] = {a.WaitForPort().value(), b.WaitForPort().value()};
  qv::Replay replay = qv::DecodeReplay(Games().short_game);
  std::vector<std::string> ids;
  for (int i = 0; i < 200; ++i) {
    replay.player = "Player " + std::to_string(i);  // another file each time
    const Reply posted = Post(ports[i % 2], qv::EncodeReplay(replay));
    ASSERT_EQ(posted.status, 202);
    ids.push_back(Field(posted.body, "id"));
  }
  std::set<std::string> checkers;
  for (const std::string& id : ids) {
    const std::string record = Checked(ports[0], id);
    EXPECT_EQ(Field(record, "state"), "\"verified\"") << record;
    EXPECT_EQ(Field(record, "checks"), "1") << record;
    checkers.insert(Field(record, "checked_by"));
  }
  EXPECT_EQ(checkers.size(), 2u) << "one server did all the work";
}

}  // namespace
}  // namespace scores::test

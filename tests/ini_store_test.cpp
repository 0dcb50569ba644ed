// ini_store_test.cpp -- the settings file: names, verbatim values, lines kept byte for byte
// across rewrites, atomic replacement, files that cannot be read, links, permissions, and
// stores killed part way or running side by side.
#include "store/ini_store.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>

#include "platform/system.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

// Folders flushed with fsync while a test watches, each with the inode the watched file had at
// that moment (to tell whether the flush came after the rename).
struct FolderFlush {
  ino_t folder;
  ino_t watched_file;
};
struct FlushWatch {
  std::string watched;  // empty: not watching
  std::vector<FolderFlush> flushes;
};
FlushWatch& Watch() {
  static FlushWatch watch;
  return watch;
}

// Runs body in a child process; its exit status is 0 when body returns, 2 when it throws.
pid_t Spawn(const std::function<void()>& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    try {
      body();
    } catch (...) {
      ::_exit(2);
    }
    ::_exit(0);
  }
  return pid;
}

int WaitFor(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

class IniStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv_ini_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "settings.ini").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteFile(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string ReadFile() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Files in the folder other than the settings file itself.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path().filename() != "settings.ini") names.push_back(e.path().filename().string());
    }
    return names;
  }

  fs::path dir_;
  std::string path_;
};

TEST_F(IniStoreTest, NamesIgnoreCaseAndValuesAreVerbatim) {
  IniStore store(path_);
  const std::string value = " Zoë & Ann = friends; #1 ";
  store.Store("QuorVane", "Game", "pname", value);
  EXPECT_EQ(store.Read("quorvane", "GAME", "PName"), value);
  EXPECT_EQ(ReadFile(), "[QuorVane/Game]\npname=" + value + "\n");
  EXPECT_FALSE(store.Read("QuorVane", "Game", "pemail").has_value());
  EXPECT_FALSE(store.Read("QuorVane", "Other", "pname").has_value());
  store.Store("QuorVane", "Game", "pname", "");
  EXPECT_EQ(store.Read("QuorVane", "Game", "pname"), "");
}

TEST_F(IniStoreTest, RewritesKeepEveryOtherLineAndTheFileSpelling) {
  const std::string original =
      "; my settings\n"
      "[QUORVANE/game]\n"
      "PName=Kim\n"
      "# e-mail below\n"
      "pemail=kim@example.org\n"
      "\n"
      "[Other/Thing]\n"
      "qv=keep me\n"
      "not an entry\n";
  WriteFile(original);
  IniStore store(path_);
  store.Store("QuorVane", "Game", "pname", "Lee");  // existing key, other spelling
  store.Store("QuorVane", "Game", "Level", "3");    // new key in an existing section
  store.Store("QuorVane", "Scores", "qv", "9");     // new section
  EXPECT_EQ(ReadFile(),
            "; my settings\n"
            "[QUORVANE/game]\n"
            "PName=Lee\n"
            "# e-mail below\n"
            "pemail=kim@example.org\n"
            "Level=3\n"
            "\n"
            "[Other/Thing]\n"
            "qv=keep me\n"
            "not an entry\n"
            "\n"
            "[QuorVane/Scores]\n"
            "qv=9\n");
  // A second store object sees what the first wrote, and the first sees the player's edits.
  IniStore again(path_);
  EXPECT_EQ(again.Read("quorvane", "game", "pemail"), "kim@example.org");
  EXPECT_EQ(again.Read("other", "thing", "QV"), "keep me");
  WriteFile("[QuorVane/Game]\npemail=lee@example.org\n");
  EXPECT_EQ(store.Read("quorvane", "game", "pemail"), "lee@example.org");
}

TEST_F(IniStoreTest, AStoreReplacesTheFileAndLeavesNothingBehind) {
  IniStore store(path_);
  store.Store("QuorVane", "Game", "qv", "1");
  // What a store killed part way leaves: a copy of the player's details under the temporary
  // name. The next store takes that name over, so such copies never pile up.
  std::ofstream(path_ + ".tmp") << "[Quorvane/reg]\npname=Ann\npemail=ann@example.org\n";
  struct stat before;
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  store.Store("QuorVane", "Game", "qv", "2");
  struct stat after;
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  // A new inode: the file was renamed over, never rewritten in place.
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

TEST_F(IniStoreTest, AFailedWriteKeepsTheOldFileWhole) {
  WriteFile("[QuorVane/Game]\nqv=old\n");
  IniStore store(path_);
  // A file-size limit makes the write fail part way, as a full disk would; root cannot
  // get around it.
  rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old_limit;
  small.rlim_cur = 16;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool threw = false;
  try {
    store.Store("QuorVane", "Game", "qv", std::string(200, 'x'));
  } catch (const std::runtime_error&) {
    threw = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_TRUE(threw);
  EXPECT_EQ(ReadFile(), "[QuorVane/Game]\nqv=old\n");
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(IniStore(path_).Read("QuorVane", "Game", "qv"), "old");
}

TEST_F(IniStoreTest, DamagedFilesReadAsMissingEntriesAndStillTakeStores) {
  const char kBytes[] =
      "\x7f"
      "ELF\0\0\x01\x02=\xff\xfe[\0]\n\0qv=1\n[unclosed\n=novalue\n";
  const std::string garbage(kBytes, sizeof kBytes - 1);
  WriteFile(garbage);
  IniStore store(path_);
  EXPECT_FALSE(store.Read("QuorVane", "Game", "qv").has_value());
  store.Store("QuorVane", "Game", "qv", "5");
  EXPECT_EQ(store.Read("QuorVane", "Game", "qv"), "5");
  EXPECT_EQ(ReadFile().substr(0, 10), garbage.substr(0, 10));  // the damage is not ours to drop
}

TEST_F(IniStoreTest, AHandEditedFileReadsAsThePlayerMeantIt) {
  // An editor's byte-order mark, CRLF line ends, blanks around names and brackets.
  WriteFile("\xEF\xBB\xBF[ Quorvane/reg ]\r\n  pname = Ann Lee\r\n\tpemail=ann@example.org\r\n");
  IniStore store(path_);
  EXPECT_EQ(store.Read("quorvane", "REG", "pname"), " Ann Lee");  // the value stays verbatim
  EXPECT_EQ(store.Read("quorvane", "reg", "pemail"), "ann@example.org");
  store.Store("Quorvane", "reg", "PEMAIL", "new@example.org");
  EXPECT_EQ(ReadFile(),
            "\xEF\xBB\xBF[ Quorvane/reg ]\r\n  pname = Ann Lee\r\n\tpemail=new@example.org\r\n");
}

TEST_F(IniStoreTest, AFileThatCannotBeReadIsNeverOverwritten) {
  const std::string mine = "[Quorvane/reg]\npname=Ann\npemail=ann@example.org\n; my notes\n";
  WriteFile(mine);
  // Write permission without read permission. Root reads anything, so the store runs in a
  // child that has given root up for "nobody", who owns the file and its folder.
  const uid_t nobody = 65534;
  ASSERT_EQ(::chmod(path_.c_str(), 0200), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(dir_.c_str(), nobody, nobody), 0);
    ASSERT_EQ(::chown(path_.c_str(), nobody, nobody), 0);
  }
  int message_pipe[2];
  ASSERT_EQ(::pipe(message_pipe), 0);
  pid_t child = Spawn([&] {
    if (::geteuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) ::_exit(3);
    try {
      IniStore(path_).Store("QuorVane", "Settings", "HighScore", "7");
    } catch (const PlatformError& e) {
      [[maybe_unused]] ssize_t n = ::write(message_pipe[1], e.what(), std::strlen(e.what()));
      ::_exit(0);
    }
    ::_exit(1);
  });
  ::close(message_pipe[1]);
  std::string message;
  char chunk[256];
  for (ssize_t n; (n = ::read(message_pipe[0], chunk, sizeof chunk)) > 0;) message.append(chunk, n);
  ::close(message_pipe[0]);
  int status = WaitFor(child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 3) << "cannot become nobody";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the store did not fail";
  EXPECT_NE(message.find("HighScore"), std::string::npos) << message;
  EXPECT_NE(message.find(path_ + ": " + std::strerror(EACCES)), std::string::npos) << message;
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  EXPECT_EQ(ReadFile(), mine);
  EXPECT_TRUE(Leftovers().empty());

  // A folder where the file should be cannot be read either.
  fs::remove(path_);
  fs::create_directory(path_);
  IniStore folder(path_);
  EXPECT_FALSE(folder.Read("QuorVane", "Settings", "HighScore").has_value());
  try {
    folder.Store("QuorVane", "Settings", "HighScore", "7");
    ADD_FAILURE() << "stored into a folder";
  } catch (const PlatformError& e) {
    EXPECT_NE(std::string(e.what()).find(path_ + ": " + std::strerror(EISDIR)), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(fs::is_empty(path_));
  EXPECT_TRUE(Leftovers().empty());
}

// A folder the game cannot write to is found as the game starts, not at its first store in the
// middle of a game: the entries still read, a store changes nothing and throws nothing. Root
// writes anywhere, so the store runs in a child that has given root up for "nobody"; the
// child's exit status says which check failed.
TEST_F(IniStoreTest, OpenFindsAFolderItCannotWriteToAndThenStoresNothing) {
  const std::string mine = "[QuorVane/Settings]\nba=7\n";
  WriteFile(mine);
  ASSERT_EQ(::chmod(dir_.c_str(), 0555), 0);
  const int status = WaitFor(Spawn([&] {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    // The file itself, and a file still to be made in a folder still to be made.
    for (const std::string& path : {path_, (dir_ / "new" / "settings.ini").string()}) {
      IniStore store(path);
      const std::optional<std::string> why = store.Open();
      if (!why || why->find(dir_.string() + ": " + std::strerror(EACCES)) == std::string::npos) {
        ::_exit(4);
      }
      if (path == path_ && store.Read("quorvane", "settings", "BA") != "7") ::_exit(5);
      if (store.Store("QuorVane", "Settings", "HighScore", "9")) ::_exit(6);
    }
  }));
  ::chmod(dir_.c_str(), 0755);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 3) << "cannot become nobody";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(), mine);
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(IniStoreTest, OpenRefusesWhatItCannotReadOrIsFarTooLargeAndThenLeavesIt) {
  // Over the limit, a folder, a pipe (which a plain read would wait on for ever): each refused
  // with a sentence naming the file; reads then find nothing and stores change nothing.
  const std::string big = "[QuorVane/Settings]\nqv=1\n" + std::string(kSettingsSizeLimit, '\n');
  auto make = std::vector<std::function<void()>>{
      [&] { WriteFile(big); }, [&] { fs::create_directory(path_); },
      [&] { ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0); }};
  for (size_t i = 0; i < make.size(); ++i) {
    SCOPED_TRACE(i);
    fs::remove_all(path_);
    make[i]();
    IniStore store(path_);
    const std::optional<std::string> why = store.Open();
    ASSERT_TRUE(why.has_value());
    EXPECT_NE(why->find(path_), std::string::npos) << *why;
    EXPECT_FALSE(store.Read("QuorVane", "Settings", "qv").has_value());
    EXPECT_FALSE(store.Store("QuorVane", "Settings", "qv", "2"));
    EXPECT_TRUE(Leftovers().empty());
    if (i == 0) {
      EXPECT_EQ(ReadFile(), big);
    }
  }
  EXPECT_NE(IniStore(path_).Open()->find("not a file"), std::string::npos);
  // At the limit, or missing, the file is the game's.
  fs::remove_all(path_);
  IniStore missing(path_);
  EXPECT_EQ(missing.Open(), std::nullopt);
  EXPECT_TRUE(missing.Store("QuorVane", "Settings", "qv", "2"));
  WriteFile(big.substr(0, kSettingsSizeLimit));
  IniStore at_limit(path_);
  EXPECT_EQ(at_limit.Open(), std::nullopt);
  EXPECT_EQ(at_limit.Read("QuorVane", "Settings", "qv"), "1");
}

TEST_F(IniStoreTest, StoresKeepEveryLineEndAndMarkSoTheFileMeansWhatItMeant) {
  // A file converted to CRLF twice, with two byte-order marks: each store used to strip one
  // more CR or mark, so a header became one only after a store, and the score read back wrong.
  const std::string doubled =
      "\xEF\xBB\xBF\xEF\xBB\xBF; scores\r\r\n"
      "[QuorVane/Settings]\r\r\n"
      "HighScore=old\r\r\n";
  WriteFile(doubled);
  IniStore store(path_);
  EXPECT_EQ(store.Read("QuorVane", "Settings", "HighScore"), "old");
  store.Store("QuorVane", "Settings", "HighScore", "new");
  EXPECT_EQ(ReadFile(),
            "\xEF\xBB\xBF\xEF\xBB\xBF; scores\r\r\n[QuorVane/Settings]\r\r\nHighScore=new\r\r\n");
  EXPECT_EQ(store.Read("QuorVane", "Settings", "HighScore"), "new");
  store.Store("QuorVane", "Settings", "HighScore", "old");
  EXPECT_EQ(ReadFile(), doubled);

  // Line ends of three editors and no end on the last line: untouched lines stay as they were,
  // a new entry takes the file's first line end, and the last line gains one only to have a
  // line put after it.
  WriteFile("[A/B]\r\nx=1\nfrom an old Mac\ry=2");
  EXPECT_EQ(store.Read("a", "b", "y"), "2");
  store.Store("A", "B", "z", "3");
  store.Store("A", "B", "x", "4");
  EXPECT_EQ(ReadFile(), "[A/B]\r\nx=4\nfrom an old Mac\ry=2\r\nz=3\r\n");
  EXPECT_EQ(store.Read("a", "b", "y"), "2");
}

TEST_F(IniStoreTest, WhatCouldNotBeReadBackAsGivenIsRefused) {
  WriteFile("[QuorVane/Game]\nqv=1\n");
  IniStore store(path_);
  const std::vector<std::array<const char*, 3>> refused = {
      {"Game", "qv", "a\nb"}, {"Game", "qv", "a\rb"}, {"Game", "q=v", "1"}, {"Game", " qv", "1"},
      {"Game", "#qv", "1"},   {"Game", "", "1"},      {"Game ", "qv", "1"}, {"Ga\nme", "qv", "1"}};
  for (const auto& [section, key, value] : refused) {
    EXPECT_THROW(store.Store("QuorVane", section, key, value), PlatformError) << key << value;
  }
  EXPECT_EQ(ReadFile(), "[QuorVane/Game]\nqv=1\n");
}

TEST_F(IniStoreTest, ALinkedFileIsFollowedAndItsTargetRewritten) {
  // A player who keeps dotfiles in one folder links the settings file there.
  fs::create_directory(dir_ / "dotfiles");
  const fs::path target = dir_ / "dotfiles" / "quorvane.ini";
  std::ofstream(target) << "[Quorvane/reg]\npname=Ann\n";
  fs::create_symlink("dotfiles/quorvane.ini", path_);
  auto target_text = [&] {
    std::stringstream s;
    s << std::ifstream(target).rdbuf();
    return s.str();
  };
  IniStore store(path_);
  store.Store("QuorVane", "Settings", "HighScore", "5");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(target_text(), "[Quorvane/reg]\npname=Ann\n\n[QuorVane/Settings]\nHighScore=5\n");
  // A link whose target is not there yet gets its target.
  fs::remove(target);
  store.Store("QuorVane", "Settings", "HighScore", "6");
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(target_text(), "[QuorVane/Settings]\nHighScore=6\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "dotfiles"), fs::directory_iterator()), 1);
}

TEST_F(IniStoreTest, AStoreKeepsThePermissionsAndFlushesTheFolderAfterTheRename) {
  WriteFile("[QuorVane/Settings]\nqv=0\n");
  ASSERT_EQ(::chmod(path_.c_str(), 0640), 0);
  struct stat before, after, folder;
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  Watch() = {path_, {}};
  IniStore(path_).Store({{"QuorVane", "Settings", "qv", "1"}, {"Quorvane", "settings", "x", "2"}});
  const FlushWatch watch = Watch();
  Watch() = {};
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  ASSERT_EQ(::stat(dir_.c_str(), &folder), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  ASSERT_NE(before.st_ino, after.st_ino);
  bool flushed_after_rename = false;
  for (const FolderFlush& flush : watch.flushes) {
    flushed_after_rename |= flush.folder == folder.st_ino && flush.watched_file == after.st_ino;
  }
  EXPECT_TRUE(flushed_after_rename);
  // Both entries went in with one rewrite: one rename, one flush of the folder.
  EXPECT_EQ(watch.flushes.size(), 1u);
  EXPECT_EQ(ReadFile(), "[QuorVane/Settings]\nqv=1\nx=2\n");

  // A new file is the player's alone, whatever the umask.
  const mode_t old_mask = ::umask(0);
  IniStore((dir_ / "new.ini").string()).Store("QuorVane", "Settings", "qv", "1");
  ::umask(old_mask);
  ASSERT_EQ(::stat((dir_ / "new.ini").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
}

TEST_F(IniStoreTest, StoresFromTwoProgramsAtOnceKeepEachOthersEntries) {
  WriteFile("[Quorvane/reg]\npname=Ann\n");
  constexpr int kStores = 100;
  auto storer = [&](const std::string& key) {
    return Spawn([&, key] {
      IniStore store(path_);
      for (int i = 1; i <= kStores; ++i)
        store.Store("QuorVane", "Settings", key, std::to_string(i));
    });
  };
  pid_t a = storer("a");
  pid_t b = storer("b");
  EXPECT_EQ(WaitFor(a), 0);
  EXPECT_EQ(WaitFor(b), 0);
  IniStore store(path_);
  EXPECT_EQ(store.Read("QuorVane", "Settings", "a"), std::to_string(kStores));
  EXPECT_EQ(store.Read("QuorVane", "Settings", "b"), std::to_string(kStores));
  EXPECT_EQ(store.Read("Quorvane", "reg", "pname"), "Ann");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(IniStoreTest, StoresKilledAtRandomMomentsLeaveTheOldOrTheNewFileWhole) {
  auto file_with = [](int score) {
    return "; kept by hand\r\n[Quorvane/reg]\r\npname=Ann Lee\r\npemail=ann@example.org\r\n\r\n"
           "[QuorVane/Settings]\r\nHighScore=" +
           std::to_string(score) + "\r\n";
  };
  WriteFile(file_with(0));
  std::mt19937 random(20240601);  // fixed, so that a failing run can be replayed
  std::uniform_int_distribution<int> moment_us(0, 10000);
  int last = 0;
  int killed_mid_store = 0;  // rounds whose kill left the temporary file behind
  for (int round = 0; round < 200; ++round) {
    // Each child says when its first store is done, and is killed at a random moment after
    // that: however slow the machine, every round kills a child that has stored.
    int stored[2];
    ASSERT_EQ(::pipe(stored), 0);
    pid_t child = Spawn([&] {
      ::close(stored[0]);
      IniStore store(path_);
      int score = std::stoi(store.Read("QuorVane", "Settings", "HighScore").value_or("none"));
      store.Store("QuorVane", "Settings", "HighScore", std::to_string(++score));
      if (::write(stored[1], "s", 1) != 1) ::_exit(3);
      for (;;) store.Store("QuorVane", "Settings", "HighScore", std::to_string(++score));
    });
    ASSERT_GT(child, 0);
    ::close(stored[1]);
    char said = 0;
    const bool has_stored = ::read(stored[0], &said, 1) == 1;
    ::close(stored[0]);
    if (has_stored) ::usleep(static_cast<useconds_t>(moment_us(random)));
    ::kill(child, SIGKILL);
    const int status = WaitFor(child);
    ASSERT_TRUE(has_stored && WIFSIGNALED(status)) << "the storing child failed in round " << round;
    const std::string text = ReadFile();
    const size_t at = text.find("HighScore=");
    ASSERT_NE(at, std::string::npos) << "round " << round << ":\n" << text;
    const int score = std::atoi(text.c_str() + at + 10);
    ASSERT_EQ(text, file_with(score)) << "round " << round;
    ASSERT_GT(score, last) << "round " << round;
    last = score;
    for (const std::string& name : Leftovers()) {
      ASSERT_EQ(name, "settings.ini.tmp") << "round " << round;
      ++killed_mid_store;
    }
  }
  // The next store takes over what the last kill left.
  IniStore(path_).Store("QuorVane", "Settings", "HighScore", "0");
  EXPECT_TRUE(Leftovers().empty());
  // Some kills did land in the middle of a store.
  EXPECT_GT(killed_mid_store, 0);
}

TEST(IniStoreMemory, AnEmptyPathKeepsTheStoreInMemory) {
  IniStore store;
  store.Store("QuorVane", "Game", "qv", "7");
  EXPECT_EQ(store.Read("QUORVANE", "game", "QV"), "7");
  EXPECT_EQ(store.Text(), "[QuorVane/Game]\nqv=7\n");
}

}  // namespace
}  // namespace qv

// Every fsync of the test program passes through here, so that a test can watch which folders
// are flushed, and when.
extern "C" int fsync(int fd) {
  using Fsync = int (*)(int);
  static const Fsync real = reinterpret_cast<Fsync>(::dlsym(RTLD_NEXT, "fsync"));
  qv::FlushWatch& watch = qv::Watch();
  struct stat st, file{};
  if (!watch.watched.empty() && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::stat(watch.watched.c_str(), &file);
    watch.flushes.push_back({st.st_ino, file.st_ino});
  }
  return real(fd);
}

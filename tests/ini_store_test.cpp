// ini_store_test.cpp -- the settings file: names, verbatim values, lines kept across rewrites,
// atomic replacement and damaged files.
#include "store/ini_store.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace qv {
namespace {

namespace fs = std::filesystem;

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
  // A second store object sees what the first wrote: every read goes to the file.
  IniStore again(path_);
  EXPECT_EQ(again.Read("quorvane", "game", "pemail"), "kim@example.org");
  EXPECT_EQ(again.Read("other", "thing", "QV"), "keep me");
}

TEST_F(IniStoreTest, AStoreReplacesTheFileAndLeavesNothingBehind) {
  IniStore store(path_);
  store.Store("QuorVane", "Game", "qv", "1");
  struct stat before;
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  store.Store("QuorVane", "Game", "qv", "2");
  struct stat after;
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  // A new inode: the file was renamed over, never rewritten in place.
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_TRUE(Leftovers().empty());
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

  // A folder where the file should be is unreadable, not fatal.
  IniStore folder(dir_.string());
  EXPECT_FALSE(folder.Read("QuorVane", "Game", "qv").has_value());
  EXPECT_THROW(folder.Store("QuorVane", "Game", "qv", "1"), std::runtime_error);
}

TEST_F(IniStoreTest, AHandEditedFileReadsAsThePlayerMeantIt) {
  // An editor's byte-order mark, CRLF line ends, blanks around names and brackets.
  WriteFile("\xEF\xBB\xBF[ Quorvane/reg ]\r\n  pname = Ann Lee\r\n\tpemail=ann@example.org\r\n");
  IniStore store(path_);
  EXPECT_EQ(store.Read("quorvane", "REG", "pname"), " Ann Lee");  // the value stays verbatim
  EXPECT_EQ(store.Read("quorvane", "reg", "pemail"), "ann@example.org");
  store.Store("Quorvane", "reg", "PEMAIL", "new@example.org");
  EXPECT_EQ(ReadFile(), "[ Quorvane/reg ]\n  pname = Ann Lee\npemail=new@example.org\n");
}

TEST(IniStoreMemory, AnEmptyPathKeepsTheStoreInMemory) {
  IniStore store;
  store.Store("QuorVane", "Game", "qv", "7");
  EXPECT_EQ(store.Read("QUORVANE", "game", "QV"), "7");
  EXPECT_EQ(store.Lines().size(), 2u);
}

}  // namespace
}  // namespace qv

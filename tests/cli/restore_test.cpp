// Restoring with palvo put: several files, or a whole backup folder, in one
// connection, every file checked before anything is sent, the replacement of
// the handset's bookmarks or addresses said before it happens.
#ifndef _WIN32

#include <pty.h>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

class RestoreTest : public PalvoTest {
 protected:
  fs::path Work(const std::string& name = "") { return root / "work" / name; }

  // A handset that holds nothing, in a content folder of its own.
  void StartEmptyHandset(const std::vector<std::string>& extra = {}) {
    StopHandset();
    content = root / "empty";
    fs::create_directories(content);
    StartHandset(extra);
  }

  // How often the handset's log names this request since the last clear.
  int Requests(const std::string& request) {
    const std::string log = ReadAll(root / "handset.log");
    int n = 0;
    for (std::size_t at = log.find("request " + request); at != std::string::npos;
         at = log.find("request " + request, at + 1))
      ++n;
    return n;
  }
  void ClearLog() { fs::resize_file(root / "handset.log", 0); }

  // Every file of two folders, by name and bytes (each backup's manifest
  // records when it was made).
  void ExpectSameFolders(const fs::path& a, const fs::path& b) {
    EXPECT_EQ(FileNames(a), FileNames(b));
    for (const std::string& name : FileNames(a)) {
      if (name == "palvo-backup.tsv") continue;
      EXPECT_TRUE(ReadAll(a / name) == ReadAll(b / name)) << name << " differs";
    }
  }
};

// get --all, put --all into an empty handset, get --all again: the same
// folder, byte for byte, also with names Windows forbids.
TEST_F(RestoreTest, ABackupComesBackByteForByte) {
  const std::vector<std::string> odd = {"what?.txt", "a:b.txt", "x*y.txt",      "q\"uote.txt",
                                        "CON.txt",   ".hidden", "back\\sl.txt", "bookmark.txt"};
  for (const bool withOddNames : {false, true}) {
    SCOPED_TRACE(withOddNames ? "odd names" : "the sample");
    StopHandset();
    content = root / "content";
    if (withOddNames) {
      for (const std::string& name : odd) WriteAll(content / "files/other" / name, "is " + name);
    }
    StartHandset();
    fs::remove_all(Work("first"));
    fs::remove_all(Work("again"));
    Result r = Palvo({"get", "--all", "--to", "first"});
    ASSERT_EQ(r.status, 0) << r.err;

    StartEmptyHandset();
    ClearLog();
    r = Palvo({"put", "--all", "first"});
    EXPECT_EQ(r.status, 0) << r.err;
    // One connection: one log-in, one listing at the end.
    EXPECT_EQ(Requests("0/1/1"), 1);
    EXPECT_EQ(Requests("2/6/1"), 1);
    // Without a terminal it went ahead, and says what it replaced.
    EXPECT_NE(r.err.find("palvo: replaced the handset's 0 bookmarks with 3\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("palvo: replaced the handset's 0 addresses with 2\n"), std::string::npos)
        << r.err;

    r = Palvo({"get", "--all", "--to", "again"});
    EXPECT_EQ(r.status, 0) << r.err;
    ExpectSameFolders(Work("first"), Work("again"));
    fs::remove_all(root / "empty");
  }
}

// Several files in one command: one connection, in order, then one listing;
// --yes answers the question, so no count is asked.
TEST_F(RestoreTest, SeveralFilesGoInOneConnection) {
  StartEmptyHandset();
  WriteAll(Work("a.gif"), "GIF89a-a");
  WriteAll(Work("bookmark.txt"), "00\t01\ttitle\thttp://example.jp/\r\n");
  WriteAll(Work("b.mid"), "MThd-b");
  ClearLog();
  const Result r = Palvo({"put", "--yes", "a.gif", "bookmark.txt", "b.mid"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Requests("0/1/1"), 1);
  EXPECT_EQ(Requests("2/8/1"), 0);
  const std::string log = ReadAll(root / "handset.log");
  const std::size_t a = log.find("a.gif"), mark = log.find("request 3/8/4"), b = log.find("b.mid");
  EXPECT_TRUE(a < mark && mark < b && b != std::string::npos) << log;
  EXPECT_EQ(ReadAll(content / "files/image/a.gif"), "GIF89a-a");
  EXPECT_EQ(ReadAll(content / "files/music/b.mid"), "MThd-b");
}

// A file that fails its check stops the whole restore before anything is sent:
// not even the log-in.
TEST_F(RestoreTest, AFailedCheckOfTheThirdFileSendsNothing) {
  StartHandset();
  WriteAll(Work("a.gif"), "GIF89a-a");
  WriteAll(Work("b.mid"), "MThd-b");
  WriteAll(Work("mail003.txt"), "not a mail file\r\n");
  ClearLog();
  const Result r = Palvo({"put", "a.gif", "b.mid", "mail003.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "palvo: mail003.txt, line 1: チェック:フォーマットエラー\n");
  EXPECT_EQ(Requests(""), 0);
  EXPECT_FALSE(fs::exists(content / "files/image/a.gif"));
}

// On a terminal the replacement is asked for, with the counts; no leaves the
// handset's bookmarks as they were.
TEST_F(RestoreTest, OnATerminalTheReplacementIsAskedFor) {
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);  // the PIN is kept from here on
  WriteAll(Work("bookmark.txt"), "00\t01\tonly\thttp://example.jp/\r\n");
  const std::string before = ReadAll(content / "bookmarks.txt");
  for (const char* answer : {"n\n", "y\n"}) {
    SCOPED_TRACE(answer);
    Terminal t({"put", "bookmark.txt"}, {registry}, root / "work");
    ASSERT_TRUE(t.started());
    bool answered = false;
    t.Read(30, 50, [&] {
      if (!answered && t.seen.find("[y/N] ") != std::string::npos) answered = t.Type(answer);
    });
    const std::string& seen = t.seen;
    const int status = WaitChild(t.pid);
    EXPECT_NE(seen.find("palvo: replace the handset's 3 bookmarks with 1? [y/N] "),
              std::string::npos)
        << seen;
    const bool yes = answer[0] == 'y';
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (yes ? 0 : 1)) << seen;
    if (yes) {
      EXPECT_NE(ReadAll(content / "bookmarks.txt").find("only"), std::string::npos);
    } else {
      EXPECT_NE(seen.find("bookmark.txt left out"), std::string::npos) << seen;
      EXPECT_EQ(ReadAll(content / "bookmarks.txt"), before);
    }
  }
}

// Ctrl-C in the middle of a restore's large file: the handset drops what came
// of it, the files before it stay restored, and the next command works at once.
TEST_F(RestoreTest, ASignalDuringARestoreStopsItCleanly) {
  StartEmptyHandset({"--throttle", "500000"});
  fs::create_directories(Work("bk"));
  WriteAll(Work("bk/bookmark.txt"), "00\t01\ttitle\thttp://example.jp/\r\n");
  WriteAll(Work("bk/big.bin"), Pattern(3 << 20));
  const pid_t pid = StartPalvo({"put", "--all", "--yes", "bk"});
  ASSERT_TRUE(WaitUntil([&] {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(content / ".upload.part", ec);
    return !ec && size > 200000;
  }));
  ::kill(pid, SIGINT);
  const Result r = WaitPalvo(pid);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err, "palvo: 中断しました\n");
  const auto start = std::chrono::steady_clock::now();
  const Result list = Palvo({"list", "--tsv"});
  EXPECT_EQ(list.status, 0) << list.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(list.out.find("big.bin"), std::string::npos) << list.out;
  EXPECT_FALSE(fs::exists(content / ".upload.part"));
  EXPECT_FALSE(fs::exists(content / "files/other/big.bin"));
  EXPECT_NE(ReadAll(content / "bookmarks.txt").find("title"), std::string::npos);
}

}  // namespace

#endif  // _WIN32

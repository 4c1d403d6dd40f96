// Backing up with palvo get: the destination folder made when it is missing
// and nothing written elsewhere, every row saved whatever its name, the
// files' dates, and a failed download leaving the folder as it was.
#ifndef _WIN32

#include <sys/stat.h>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

class BackupTest : public PalvoTest {
 protected:
  fs::path Work(const std::string& name = "") { return root / "work" / name; }
};

// The folder named by --to is made, with the folders above it, when several
// rows or the mail row go there; the current folder's own mail files are left
// alone.
TEST_F(BackupTest, AMissingDestinationFolderIsMadeAndNothingGoesElsewhere) {
  StartHandset();
  WriteAll(Work("mail000.txt"), "mine");
  const struct {
    std::vector<std::string> args;
    std::string folder;
    std::vector<std::string> files;
  } cases[] = {
      {{"get", "mail???.txt", "--to", "newbk"},
       "newbk",
       {"mail000.txt", "mail001.txt", "mail002.txt"}},
      {{"get", "memo.txt", "index.html", "--to", "multi"}, "multi", {"index.html", "memo.txt"}},
      {{"get", "memo.txt", "--to", "one/"}, "one", {"memo.txt"}},
      {{"get", "mail???.txt", "--to", "deep/er/bk"},
       "deep/er/bk",
       {"mail000.txt", "mail001.txt", "mail002.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    const Result r = Palvo(c.args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FileNames(Work(c.folder)), c.files);
  }
  EXPECT_EQ(ReadAll(Work("mail000.txt")), "mine");
  EXPECT_EQ(FileNames(Work()),
            (std::vector<std::string>{"deep", "mail000.txt", "multi", "newbk", "one"}));
  EXPECT_EQ(ReadAll(Work("multi/memo.txt")), ReadAll(content / "files/other/memo.txt"));
}

TEST_F(BackupTest, AFolderThatCannotBeMadeIsAnErrorNamingItAndWhy) {
  StartHandset();
  WriteAll(Work("plain.txt"), "a file");
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"get", "mail???.txt", "--to", "plain.txt/such/bk"},
       "cannot make the folder plain.txt/such/bk: " + (Work() / "plain.txt").string() +
           " is a file, not a folder"},
      {{"get", "--all", "--to", "plain.txt/x"}, "cannot make the folder plain.txt/x: "},
      {{"get", "memo.txt", "index.html", "--to", "plain.txt"}, "not a folder: plain.txt"},
      {{"get", "memo.txt", "--to", "no/such/x.txt"}, "no such folder for no/such/x.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    const Result r = Palvo(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
  EXPECT_EQ(FileNames(Work()), std::vector<std::string>{"plain.txt"});
  // Checked before the handset was disturbed: no connection at all.
  EXPECT_EQ(ReadAll(root / "handset.log").find("request"), std::string::npos);
}

// Names Windows forbids are ordinary names here; only what cannot be a name
// on Linux, or belongs to the backup's own files, is saved under another
// name, and the listing says which. Every row is saved, in one connection.
TEST_F(BackupTest, EveryRowIsSavedWhateverItsName) {
  const std::vector<std::string> odd = {"what?.txt",   "a:b.txt", "x*y.txt",
                                        "q\"uote.txt", "CON.txt", "back\\slash.txt",
                                        "bookmark.txt"};
  for (const std::string& name : odd) WriteAll(content / "files" / "other" / name, "is " + name);
  StartHandset();
  const Result r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* name : {"what?.txt", "a:b.txt", "x*y.txt", "q\"uote.txt", "CON.txt"})
    EXPECT_EQ(ReadAll(Work("bk") / name), "is " + std::string(name)) << name;
  EXPECT_EQ(ReadAll(Work("bk/back_slash.txt")), "is back\\slash.txt");
  EXPECT_EQ(ReadAll(Work("bk/bookmark~1.txt")), "is bookmark.txt");
  EXPECT_EQ(ReadAll(Work("bk/bookmark.txt")), ReadAll(content / "bookmarks.txt"));
  EXPECT_EQ(r.err,
            "palvo: 別の名前で保存しました\n"
            "  back\\slash.txt -> back_slash.txt\n"
            "  bookmark.txt -> bookmark~1.txt\n");
  // One log-in for the listing, one for the download.
  const std::string log = ReadAll(root / "handset.log");
  std::size_t hellos = 0;
  for (std::size_t at = log.find("request 0/1/1"); at != std::string::npos;
       at = log.find("request 0/1/1", at + 1))
    ++hellos;
  EXPECT_EQ(hellos, 2u);
}

TEST_F(BackupTest, FilesKeepTheHandsetsDate) {
  StartHandset();
  ASSERT_EQ(Palvo({"get", "--all", "--to", "bk"}).status, 0);
  // tone.mid is dated 2009/09/09 09:09 on the handset, in local time.
  std::tm local = {};
  local.tm_year = 2009 - 1900;
  local.tm_mon = 8;
  local.tm_mday = 9;
  local.tm_hour = 9;
  local.tm_min = 9;
  local.tm_isdst = -1;
  struct stat st;
  ASSERT_EQ(::stat(Work("bk/tone.mid").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, std::mktime(&local));
  // The mail files have no date on the handset: the time of the download.
  ASSERT_EQ(::stat(Work("bk/mail000.txt").c_str(), &st), 0);
  EXPECT_GT(st.st_mtime, std::time(nullptr) - 600);
}

// The link failing in the mail download: the earlier mail files stay exactly
// as they were, and no new one is left.
TEST_F(BackupTest, ALinkFailingInTheMailDownloadKeepsTheEarlierMail) {
  StartHandset({"--set", "fault vanish req=3/4/2 at=0"});
  fs::create_directories(Work("bk"));
  WriteAll(Work("bk/mail000.txt"), "old 0");
  WriteAll(Work("bk/mail001.txt"), "old 1");
  const Result r = Palvo({"get", "mail???.txt", "--to", "bk"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("通信エラー"), std::string::npos) << r.err;
  EXPECT_EQ(FileNames(Work("bk")), (std::vector<std::string>{"mail000.txt", "mail001.txt"}));
  EXPECT_EQ(ReadAll(Work("bk/mail000.txt")), "old 0");
  EXPECT_EQ(ReadAll(Work("bk/mail001.txt")), "old 1");
}

}  // namespace

#endif  // _WIN32

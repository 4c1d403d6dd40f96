// Backing up with palvo get: the destination folder made when it is missing
// and nothing written elsewhere, every row saved whatever its name, the
// files' dates, and a failed download leaving the folder as it was.
#ifndef _WIN32

#include <sys/stat.h>
#include <unistd.h>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class BackupTest : public PalvoTest {
 protected:
  fs::path Work(const std::string& name = "") { return root / "work" / name; }
  // The handset's log of what came since the last call.
  std::string NewLog() {
    const std::string log = ReadAll(root / "handset.log");
    const std::string fresh = log.substr(std::min(logSeen, log.size()));
    logSeen = log.size();
    return fresh;
  }
  std::size_t logSeen = 0;
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
    const Result r = Palvo(c.args, "1234\n", {"LC_ALL=C.UTF-8"});
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
  EXPECT_EQ(r.err.substr(0, r.err.find("palvo: 保存 18 行")),
            "palvo: 別の名前で保存しました\n"
            "  back\\slash.txt -> back_slash.txt\n"
            "  bookmark.txt -> bookmark~1.txt\n");
  // The summary line ends it.
  EXPECT_NE(r.err.find("palvo: 保存 18 行、変更なし 0 行、改名 2 行、保存できず 0 行、"),
            std::string::npos)
      << r.err;
  // The listing and the rows in one connection: one log-in.
  EXPECT_EQ(Count(ReadAll(root / "handset.log"), "request 0/1/1"), 1u);
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

// Two rows of one name and a name that does not decode: each row is saved
// under a name of its own, the rows after the odd one too, and each renamed
// row is listed.
TEST_F(BackupTest, EveryRowGetsAFileOfItsOwn) {
  WriteAll(content / "files/card/dup.vcf", "card dup");
  WriteAll(content / "files/other/dup.vcf", "other dup");
  WriteAll(content / "files/other/x\x81.txt", "not shift-jis");
  StartHandset();
  const Result r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> dups = {ReadAll(Work("bk/dup.vcf")), ReadAll(Work("bk/dup~1.vcf"))};
  std::sort(dups.begin(), dups.end());
  EXPECT_EQ(dups, (std::vector<std::string>{"card dup", "other dup"}));
  EXPECT_EQ(ReadAll(Work("bk/x_.txt")), "not shift-jis");
  EXPECT_NE(r.err.find("x・.txt -> x_.txt"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("dup.vcf -> dup~1.vcf"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("保存 14 行"), std::string::npos) << r.err;
}

// 600 names that differ only in control characters all want one local
// name: each gets a file of its own, none is overwritten.
TEST_F(BackupTest, SixHundredRowsOfOneLocalNameAreAllSaved) {
  for (int i = 0; i < 600; ++i) {
    // Control characters but TAB, which ends a listing field.
    auto control = [](int n) { return static_cast<char>(n < 8 ? 1 + n : 2 + n); };
    const std::string name = {'a', control(i % 30), control(i / 30), '.', 't', 'x', 't'};
    WriteAll(content / "files/other" / name, "row " + std::to_string(i));
  }
  StartHandset();
  const Result r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  std::vector<std::string> bodies;
  for (const auto& entry : fs::directory_iterator(Work("bk")))
    if (entry.path().filename().string().rfind("a__", 0) == 0)
      bodies.push_back(ReadAll(entry.path()));
  std::sort(bodies.begin(), bodies.end());
  EXPECT_EQ(bodies.size(), 600u);
  EXPECT_EQ(std::unique(bodies.begin(), bodies.end()), bodies.end());
  EXPECT_NE(r.err.find("保存 611 行、変更なし 0 行、改名 600 行"), std::string::npos)
      << r.err.substr(r.err.size() - 300);
}

// A count that is not a number, or an unreadable mail: the earlier backup
// keeps every mail it had (in the folder, or in its attic).
TEST_F(BackupTest, ABadCountOrMailCostsNoEarlierMail) {
  const struct {
    std::string control;
    int status;
    std::string says;
    std::vector<std::string> left;  // mail files in the folder afterwards
    bool attic;
  } cases[] = {
      {"reply 2/5/1 x",
       1,
       "通信エラー(メール数)",
       {"mail000.txt", "mail001.txt", "mail003.txt"},
       false},
      {"reply 2/5/1 -1",
       1,
       "通信エラー(メール数)",
       {"mail000.txt", "mail001.txt", "mail003.txt"},
       false},
      {"item 5 1 payload=\\x1C", 1, "データ異常", {"mail000.txt", "mail001.txt"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    fs::remove_all(Work("bk"));
    fs::create_directories(Work("bk"));
    for (const char* name : {"mail000.txt", "mail001.txt", "mail003.txt"})
      WriteAll(Work("bk") / name, std::string("old ") + name);
    StartHandset({"--set", c.control});
    const Result r = Palvo({"get", "mail???.txt", "--to", "bk"});
    StopHandset();
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    std::vector<std::string> mails;
    for (const std::string& name : FileNames(Work("bk")))
      if (name.rfind("mail", 0) == 0) mails.push_back(name);
    EXPECT_EQ(mails, c.left);
    if (!c.attic) {
      EXPECT_EQ(ReadAll(Work("bk/mail003.txt")), "old mail003.txt");
      continue;
    }
    // The set came in with its gap; the earlier files it replaced or
    // removed wait in the attic.
    ASSERT_TRUE(fs::is_directory(Work("bk/palvo-attic")));
    const fs::path run = fs::directory_iterator(Work("bk/palvo-attic"))->path();
    EXPECT_EQ(FileNames(run),
              (std::vector<std::string>{"mail000.txt", "mail001.txt", "mail003.txt"}));
    EXPECT_EQ(ReadAll(run / "mail003.txt"), "old mail003.txt");
    EXPECT_NE(r.err.find("個を移しました: "), std::string::npos) << r.err;
  }
}

TEST_F(BackupTest, AFileCountThatIsNotANumberSavesNothing) {
  StartHandset({"--set", "reply 2/6/1 abc"});
  const Result r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("通信エラー(ファイル数)"), std::string::npos) << r.err;
  EXPECT_TRUE(FileNames(Work("bk")).empty());
}

// On Linux a backslash is part of a name, which the core would take for a
// folder: refused before the handset hears anything.
TEST_F(BackupTest, ABackslashInAPathIsRefusedBeforeTheHandsetIsAsked) {
  StartHandset();
  fs::create_directories(Work("docs/2026"));
  WriteAll(Work("docs/2026/memo.txt"), "mine");
  WriteAll(Work("x\\y.txt"), "a file");
  const struct {
    std::vector<std::string> args;
    std::string path;
  } cases[] = {
      {{"get", "mail???.txt", "memo.txt", "--to", "docs\\2026"}, "docs\\2026"},
      {{"put", "x\\y.txt"}, "x\\y.txt"},
  };
  for (const auto& c : cases) {
    const Result r = Palvo(c.args, "1234\n", {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot use the path " + c.path + ": a backslash"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(FileNames(Work("docs/2026")), std::vector<std::string>{"memo.txt"});
  EXPECT_EQ(ReadAll(Work("docs/2026/memo.txt")), "mine");
  EXPECT_EQ(NewLog().find("request"), std::string::npos);
}

// A link at the part name is never followed: the file it points at keeps its
// bytes and the download still arrives.
TEST_F(BackupTest, APartNameThatIsALinkIsNotFollowed) {
  StartHandset();
  fs::create_directories(Work("S"));
  WriteAll(Work("elsewhere.txt"), "keep me");
  fs::create_symlink(Work("elsewhere.txt"), Work("S/.palvo-memo.txt.part"));
  const Result r = Palvo({"get", "memo.txt", "--to", "S/"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(Work("elsewhere.txt")), "keep me");
  EXPECT_EQ(ReadAll(Work("S/memo.txt")), ReadAll(content / "files/other/memo.txt"));
  EXPECT_EQ(FileNames(Work("S")), std::vector<std::string>{"memo.txt"});
  EXPECT_EQ(Palvo({"get", "memo.txt", "--to", "/dev/null"}).status, 0);
}

std::vector<std::string> ManifestLocals(const fs::path& dir) {
  std::vector<std::string> locals;
  const std::vector<std::string> lines = Lines(ReadAll(dir / "palvo-backup.tsv"));
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> fields;
    std::stringstream in(lines[i]);
    for (std::string f; std::getline(in, f, '\t');) fields.push_back(f);
    if (fields.size() == 8) locals.push_back(fields[3]);
  }
  std::sort(locals.begin(), locals.end());
  return locals;
}

// The manifest, the incremental run that moves no file bytes, the attic for
// a row gone from the handset and for mail files the manifest records.
TEST_F(BackupTest, ARepeatedBackupMovesOnlyWhatChangedAndLosesNothing) {
  WriteAll(content / "files/other/big.bin", Pattern(300000));
  StartHandset();
  ASSERT_EQ(Palvo({"get", "--all", "--to", "bk"}).status, 0);
  const std::vector<std::string> all = {"address.txt", "big.bin",    "bookmark.txt", "check.bmp",
                                        "chime.mid",   "index.html", "mail000.txt",  "mail001.txt",
                                        "mail002.txt", "me.vcf",     "memo.txt",     "sky.png",
                                        "tone.mid",    "写真.jpg"};
  EXPECT_EQ(ManifestLocals(Work("bk")), all);
  const std::string header = Lines(ReadAll(Work("bk/palvo-backup.tsv")))[0];
  EXPECT_EQ(header.rfind("# palvo ", 0), 0u) << header;

  NewLog();
  Result r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(NewLog(), "request 3/6/2"), 0u);  // no file row transferred
  EXPECT_NE(r.err.find("変更なし 9 行"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Work("bk/palvo-attic")));  // same bytes: nothing moved

  // --refetch transfers every file row again.
  r = Palvo({"get", "--all", "--refetch", "--to", "bk"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(NewLog(), "request 3/6/2"), 9u);

  // A row gone from the handset, and a mail file the manifest records with
  // four digits: both to the attic, out of the manifest.
  StopHandset();
  fs::remove(content / "files/other/memo.txt");
  WriteAll(Work("bk/mail1000.txt"), "old mail 1000");
  {
    std::ofstream manifest(Work("bk/palvo-backup.tsv"), std::ios::app | std::ios::binary);
    manifest << "mail1000.txt\t\tmail\tmail1000.txt\t13\t\t" << std::string(64, '0')
             << "\t2026-01-01T00:00:00Z\n";
    // An edited line naming a file outside the folder: never touched.
    manifest << "gone.txt\t\tother\t../outside.txt\t4\t\t" << std::string(64, '0')
             << "\t2026-01-01T00:00:00Z\n";
  }
  WriteAll(Work("outside.txt"), "mine");
  StartHandset();
  r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(Work("bk/memo.txt")));
  EXPECT_FALSE(fs::exists(Work("bk/mail1000.txt")));
  EXPECT_EQ(ReadAll(Work("outside.txt")), "mine");
  const fs::path run = fs::directory_iterator(Work("bk/palvo-attic"))->path();
  EXPECT_EQ(FileNames(run), (std::vector<std::string>{"mail1000.txt", "memo.txt"}));
  std::vector<std::string> now = all;
  now.erase(std::find(now.begin(), now.end(), "memo.txt"));
  EXPECT_EQ(ManifestLocals(Work("bk")), now);
  EXPECT_NE(r.err.find("。以前のファイル 2 個を移しました: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("/bk/palvo-attic/"), std::string::npos) << r.err;
}

// A run cut off by the link is finished by the same command: the second run
// fetches only the rows the first did not save.
TEST_F(BackupTest, AnInterruptedBackupIsFinishedByRunningItAgain) {
  StartHandset({"--set", "fault vanish req=3/6/2 nth=4 at=0"});
  Result r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 1);
  StopHandset();
  // The bookmarks, the address book, three mails and three files.
  EXPECT_EQ(ManifestLocals(Work("bk")).size(), 8u);
  fs::remove(root / "handset.log");
  StartHandset();
  r = Palvo({"get", "--all", "--to", "bk"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(ReadAll(root / "handset.log"), "request 3/6/2"), 5u);  // of 8 files
  EXPECT_EQ(ManifestLocals(Work("bk")).size(), 13u);
}

TEST_F(BackupTest, VerifyProvesABackupCompleteOrNamesWhatIsWrong) {
  StartHandset();
  ASSERT_EQ(Palvo({"get", "--all", "--to", "bk"}).status, 0);
  Result r = Palvo({"verify", "bk"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Palvo({"verify", "--offline", "bk"}).status, 0);

  std::string bytes = ReadAll(Work("bk/sky.png"));
  bytes[3] ^= 1;
  WriteAll(Work("bk/sky.png"), bytes);
  fs::remove(Work("bk/memo.txt"));
  StopHandset();
  WriteAll(content / "files/other/new.txt", "new on the handset");
  StartHandset();
  // In the run's language: English, then Japanese.
  for (const bool offline : {true, false}) {
    for (const bool english : {true, false}) {
      std::vector<std::string> args = {"verify", "bk"};
      if (offline) args.insert(args.begin() + 1, "--offline");
      r = Palvo(args, "1234\n", {english ? "LC_ALL=C.UTF-8" : "LC_ALL=ja_JP.UTF-8"});
      EXPECT_EQ(r.status, 1);
      std::vector<std::string> lines = Lines(r.out);
      std::sort(lines.begin(), lines.end());
      std::vector<std::string> expected =
          english ? std::vector<std::string>{"changed: sky.png", "missing: memo.txt"}
                  : std::vector<std::string>{"変わっています: sky.png", "ありません: memo.txt"};
      if (!offline)
        expected.push_back(english ? "not in the backup: new.txt"
                                   : "バックアップにありません: new.txt");
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(lines, expected) << r.out;
    }
  }
  StopHandset();
  EXPECT_EQ(Palvo({"verify", "--offline", "."}).status, 1);
}

// export's summary and problem lines follow the locale like every other
// command's output; no handset is needed.
TEST_F(BackupTest, ExportReportsInTheRunsLanguage) {
  fs::create_directories(Work("bk/sub"));
  WriteAll(Work("bk/mail000.txt"), "no mail");
  for (const bool english : {true, false}) {
    const Result r = Palvo({"export", "bk", "--to", english ? "en" : "ja"}, "",
                           {english ? "LC_ALL=C.UTF-8" : "LC_ALL=ja_JP.UTF-8"});
    EXPECT_EQ(r.status, 1) << r.err;
    for (const char* line :
         english
             ? std::vector<const char*>{"\n2 problems:\n", "\n  sub: a folder: not exported\n",
                                        "\n                  1 mailNNN.txt that is no mail"}
             : std::vector<const char*>{"\n問題 2 件:\n", "\n  sub: フォルダです: 書き出しません\n",
                                        "\n                  メールではない mailNNN.txt 1 個"})
      EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
}

}  // namespace

#endif  // _WIN32

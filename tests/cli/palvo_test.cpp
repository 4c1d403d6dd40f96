// The palvo command line end to end: the built program against palvo-handset
// on a pseudo-terminal, each test with a registry and folders of its own.
#ifndef _WIN32

#include <pty.h>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

// Today's four columns, then the exact size in bytes (none for the first
// three rows).
const std::vector<std::string> kSampleTsv = {
    "5\tbookmark.txt\t\tブックマーク\t",
    "6\taddress.txt\t\tアドレス帳\t",
    "7\tmail???.txt\t\tメール\t",
    "0\t" + std::string("写真.jpg") + "\t20K\t2010/10/10 10:10\t20000",
    "1\ttone.mid\t9\t2009/09/09 09:09\t9",
    "0\tsky.png\t463\t2006/12/24 18:05\t463",
    "4\tmemo.txt\t20\t2006/02/28 23:59\t20",
    "2\tindex.html\t170\t2005/11/03 12:00\t170",
    "0\tcheck.bmp\t246\t2005/04/01 09:30\t246",
    "1\tchime.mid\t62\t2004/07/07 07:07\t62",
    "3\tme.vcf\t117\t2003/01/15 08:45\t117"};

TEST_F(PalvoTest, ListTsvIsTheListingTopRowFirst) {
  StartHandset();
  const Result r = Palvo({"list", "--tsv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out), kSampleTsv);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.find("1234"), std::string::npos);
  // The PIN is kept: the next run asks for nothing.
  const Result again = Palvo({"list", "--tsv"}, "");
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(Lines(again.out), kSampleTsv);
}

TEST_F(PalvoTest, ListTableAlignsWideNames) {
  StartHandset();
  const Result r = Palvo({"list"});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), kSampleTsv.size() + 1);
  // Name columns: bookmark.txt is the widest at 12, 写真.jpg takes 8; the
  // size column is as wide as its heading サイズ, 6.
  auto blanks = [](int n) { return std::string(static_cast<std::size_t>(n), ' '); };
  EXPECT_EQ(lines[0], "名前" + blanks(12 - 4 + 2) + "サイズ  更新日時");
  EXPECT_EQ(lines[1], "bookmark.txt" + blanks(2 + 6) + "  ブックマーク");
  EXPECT_EQ(lines[4], "写真.jpg" + blanks(12 - 8 + 2 + 6 - 3) + "20K  2010/10/10 10:10");
  EXPECT_EQ(lines[5], "tone.mid" + blanks(12 - 8 + 2 + 6 - 1) + "9  2009/09/09 09:09");
}

TEST_F(PalvoTest, GetOneFileIntoAFolderOrAsAFile) {
  StartHandset();
  fs::create_directories(root / "out");
  Result r = Palvo({"get", "--to", (root / "out").string(), "tone.mid"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(ReadAll(root / "out" / "tone.mid"), "MThd-tone");

  r = Palvo({"get", "--to", (root / "out" / "renamed.bin").string(), kPhotoUtf8});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(ReadAll(root / "out" / "renamed.bin"), photo);

  // No --to: the current folder, under the row's own (converted) name.
  r = Palvo({"get", kPhotoUtf8});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(ReadAll(root / "work" / kPhotoUtf8), photo);
  EXPECT_EQ(r.out, "");
}

TEST_F(PalvoTest, GetSeveralRowsAndTheBookmarkRow) {
  StartHandset();
  fs::create_directories(root / "out");
  const Result r =
      Palvo({"get", "--to", (root / "out").string() + "/", "tone.mid", "memo.txt", "bookmark.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(ReadAll(root / "out" / "tone.mid"), "MThd-tone");
  EXPECT_SAME_BYTES(ReadAll(root / "out" / "memo.txt"),
                    ReadAll(content / "files" / "other" / "memo.txt"));
  EXPECT_SAME_BYTES(ReadAll(root / "out" / "bookmark.txt"), ReadAll(content / "bookmarks.txt"));
}

TEST_F(PalvoTest, GetAllBacksUpEveryRowIntoOneFolder) {
  StartHandset();
  const Result r = Palvo({"get", "--all", "--to", (root / "backup").string()});
  EXPECT_EQ(r.status, 0) << r.err;
  const fs::path backup = root / "backup";
  EXPECT_SAME_BYTES(ReadAll(backup / "bookmark.txt"), ReadAll(content / "bookmarks.txt"));
  EXPECT_TRUE(fs::exists(backup / "address.txt"));
  EXPECT_TRUE(fs::exists(backup / "mail000.txt"));
  EXPECT_SAME_BYTES(ReadAll(backup / kPhotoUtf8), photo);
  for (const char* file : {"sky.png", "check.bmp"})
    EXPECT_EQ(ReadAll(backup / file), ReadAll(content / "files" / "image" / file)) << file;
  EXPECT_SAME_BYTES(ReadAll(backup / "me.vcf"), ReadAll(content / "files" / "card" / "me.vcf"));
  EXPECT_SAME_BYTES(ReadAll(backup / "index.html"),
                    ReadAll(content / "files" / "net" / "index.html"));
}

// A usage error is one line naming the problem and one with the hint to the
// command's help; nothing reaches the handset (none is there).
TEST_F(PalvoTest, UsageErrorsAreOneLineAndAHint) {
  const struct {
    std::vector<std::string> args;
    const char* problem;  // in the first line
    const char* hint;
  } cases[] = {
      {{}, "no command", "palvo --help"},
      {{"frob"}, "unknown command frob", "palvo --help"},
      {{"--bogus"}, "unknown option --bogus", "palvo --help"},
      {{"list", "extra"}, "list takes no argument extra", "palvo list --help"},
      {{"list", "--to", "x"}, "list takes no option --to", "palvo list --help"},
      {{"list", "--bogus"}, "list takes no option --bogus", "palvo list --help"},
      {{"list", "--yes"}, "list takes no option --yes", "palvo list --help"},
      {{"list", "--header"}, "--header goes with --tsv", "palvo list --help"},
      {{"get"}, "get needs a NAME or --all", "palvo get --help"},
      {{"get", "--all", "a.jpg"}, "get --all takes no NAME", "palvo get --help"},
      {{"get", "--to"}, "--to needs a value", "palvo get --help"},
      {{"get", "--tsv", "a.jpg"}, "get takes no option --tsv", "palvo get --help"},
      {{"get", "--to", "-", "a.jpg", "b.jpg"}, "--to - takes one row", "palvo get --help"},
      {{"get", "--to", "-", "mail???.txt"}, "--to - takes one row", "palvo get --help"},
      {{"get", "--to", "-", "--all"}, "--to - takes one row", "palvo get --help"},
      {{"put"}, "put needs a FILE or --all DIR", "palvo put --help"},
      {{"put", "--all"}, "put --all takes one DIR", "palvo put --help"},
      {{"put", "--all", "a", "b"}, "put --all takes one DIR", "palvo put --help"},
      {{"put", "--all", "a", "--kind", "file"}, "put --all takes no --kind", "palvo put --help"},
      {{"put", "a", "b", "--as", "c"}, "--as is for one FILE", "palvo put --help"},
      {{"put", "x.txt", "--kind", "photo"}, "unknown kind photo", "palvo put --help"},
      {{"export", "a", "--to", "b", "--port", "/dev/null"},
       "export talks to no handset",
       "palvo export --help"},
      {{"help", "frob"}, "no command frob", "palvo help --help"},
      {{"-q", "-v", "list"}, "--quiet and --verbose exclude each other", "palvo list --help"},
  };
  for (const auto& c : cases) {
    const Result r = Palvo(c.args, "", {"LC_ALL=C.UTF-8"});
    std::string shown;
    for (const auto& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    EXPECT_EQ(r.status, 2);
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0].rfind("palvo: ", 0), 0u) << r.err;
    EXPECT_EQ(lines[0].find("palvo: palvo"), std::string::npos) << r.err;
    EXPECT_NE(lines[0].find(c.problem), std::string::npos) << r.err;
    EXPECT_EQ(lines[1], std::string("try '") + c.hint + "'");
    EXPECT_EQ(r.out, "");
  }
}

// The handset was asked and has no such row: a failure, not a usage error.
TEST_F(PalvoTest, UnknownNameFailsAndNothingIsDownloaded) {
  StartHandset();
  const Result r = Palvo({"get", "tone.mid", "nosuch.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "palvo: その名前の行はありません: nosuch.jpg\n");
  EXPECT_TRUE(fs::is_empty(root / "work"));
  // Only the listing was asked for: no file request reached the handset.
  EXPECT_SAME_BYTES(ReadAll(root / "handset.log").find("6/2"), std::string::npos);
}

TEST_F(PalvoTest, HelpExplainsEveryCommand) {
  const Result r = Palvo({"--help"}, "");
  EXPECT_EQ(r.status, 0);
  for (const char* word : {"palvo list", "--tsv", "palvo get", "--all", "--to", "palvo put",
                           "--kind", "--as", "--yes", "FILE...", "Ctrl-C", "Exit status"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

// Each command the full help lists has a help of its own, the same whichever
// way it is asked for, and a bad topic is a usage error.
TEST_F(PalvoTest, EveryListedCommandHasItsOwnHelp) {
  const std::string full = Palvo({"help"}, "").out;
  EXPECT_EQ(full, Palvo({"--help"}, "").out);
  for (const char* name : {"list", "get", "put", "pin", "export", "help"}) {
    EXPECT_NE(full.find("\n  " + std::string(name) + " "), std::string::npos) << name;
    const Result asked = Palvo({"help", name}, "");
    EXPECT_EQ(asked.status, 0) << name;
    EXPECT_EQ(asked.out.rfind("usage: palvo " + std::string(name), 0), 0u) << asked.out;
    // palvo help --help is the whole help, as palvo help is.
    if (std::string(name) != "help") {
      EXPECT_EQ(asked.out, Palvo({name, "--help"}, "").out) << name;
    }
    EXPECT_EQ(asked.out, Palvo({"help", "--", name}, "").out) << name;
  }
  const Result unknown = Palvo({"help", "nope"}, "", {"LC_ALL=C.UTF-8"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err, "palvo: no command nope\ntry 'palvo help --help'\n");
  EXPECT_EQ(Palvo({"help", "get", "--", "put"}, "").status, 2);
}

TEST_F(PalvoTest, WrongPinFailsWithTheMessageAndNeverShowsThePin) {
  StartHandset({"--pin", "4321"});
  const Result r = Palvo({"list", "--tsv"}, "9876\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "palvo: 暗証番号が誤りです\n");
  EXPECT_EQ(r.out.find("9876"), std::string::npos);
  // No input at the PIN and no terminal: it says how to give one.
  const Result cancelled = Palvo({"list"}, "");
  EXPECT_EQ(cancelled.status, 1);
  EXPECT_NE(cancelled.err.find("palvo pin"), std::string::npos) << cancelled.err;
  EXPECT_NE(cancelled.err.find("--pin-file"), std::string::npos) << cancelled.err;
  EXPECT_EQ(cancelled.out, "");
}

TEST_F(PalvoTest, ListingFailureStillPrintsTheRowsThatArrived) {
  StartHandset({"--set", "item 6 2 group=5"});
  const Result r = Palvo({"list", "--tsv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "palvo: 通信エラー(ファイル名)\n");
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u) << r.out;
  EXPECT_EQ(lines[0], kSampleTsv[0]);
  EXPECT_EQ(lines[2], kSampleTsv[2]);
}

// On a terminal: the PIN prompt without echo, and progress of a long transfer.
TEST_F(PalvoTest, TerminalGetsAPromptWithoutEchoAndProgress) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(300000));
  StartHandset({"--throttle", "200000"});
  Terminal t({"get", "--to", (root / "big.out").string(), "big.bin"}, {registry}, {});
  ASSERT_TRUE(t.started());
  bool typed = false;
  t.Read(60, 200, [&] {
    if (!typed && t.seen.find("暗証番号: ") != std::string::npos) typed = t.Type("1234\n");
  });
  // A program still waiting (for a PIN it never got) must fail the test, not hang it.
  const int status = WaitChild(t.pid, 10);
  const std::string& seen = t.seen;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  EXPECT_TRUE(typed) << seen;
  EXPECT_EQ(seen.find("1234"), std::string::npos) << seen;
  // The row's name, bytes done of the total, percent, rate and time left;
  // once done the line is blanked out and the cursor back at its start.
  EXPECT_NE(seen.find("\rbig.bin  "), std::string::npos) << seen;
  EXPECT_NE(seen.find(" / 300K  "), std::string::npos) << seen;
  EXPECT_NE(seen.find("%  "), std::string::npos) << seen;
  EXPECT_NE(seen.find("K/s  0:0"), std::string::npos) << seen;
  EXPECT_NE(seen.find(" left"), std::string::npos) << seen;
  // The summary line follows the cleared progress line.
  const std::size_t summary = seen.find("palvo: 保存 1 行、変更なし 0 行");
  ASSERT_NE(summary, std::string::npos) << seen;
  const std::size_t lastReturn = seen.find_last_of('\r', summary - 1);
  ASSERT_NE(lastReturn, std::string::npos);
  const std::size_t blanks = seen.find_last_not_of(' ', lastReturn - 1);
  EXPECT_EQ(seen[blanks], '\r') << "the progress line is not cleared: " << seen;
  EXPECT_SAME_BYTES(ReadAll(root / "big.out"), Pattern(300000));
}

TEST_F(PalvoTest, NoHandsetIsAFailure) {
  const Result r = Palvo({"list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "palvo: Veltaが見つかりません\n");
}

TEST_F(PalvoTest, PutStoresTheFileAndListsAgain) {
  StartHandset();
  WriteAll(root / "work" / "new.gif", "GIF89a-data");
  Result r = Palvo({"put", "new.gif"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(ReadAll(content / "files" / "image" / "new.gif"), "GIF89a-data");

  // Under another name, and then seen in the listing.
  r = Palvo({"put", (root / "work" / "new.gif").string(), "--as", "page.htm"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_SAME_BYTES(ReadAll(content / "files" / "net" / "page.htm"), "GIF89a-data");
  r = Palvo({"list", "--tsv"});
  EXPECT_NE(r.out.find("\tpage.htm\t11\t"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\tnew.gif\t11\t"), std::string::npos) << r.out;

  // --as belongs to ordinary files; a missing file fails before connecting.
  WriteAll(root / "work" / "bookmark.txt", "x");
  r = Palvo({"put", "bookmark.txt", "--as", "x.txt"});
  EXPECT_EQ(r.status, 2);
  r = Palvo({"put", "missing.gif"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("missing.gif"), std::string::npos);
}

}  // namespace

#endif  // _WIN32

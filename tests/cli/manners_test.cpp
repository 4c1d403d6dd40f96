// The command line's manners end to end: messages a person can read,
// failures that are failures, output for scripts and for terminals, the PIN
// for people and for scripts, and a port the registry does not show.
#ifndef _WIN32

#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

class MannersTest : public PalvoTest {
 protected:
  std::string Path(const char* name) const { return (root / name).string(); }

  // palvo on a terminal columns wide; all the screen received. The PIN must
  // be kept already: nothing is typed.
  std::string OnTerminal(const std::vector<std::string>& args, int columns) {
    Terminal t(args, {registry}, root / "work", columns);
    t.Read(60, 200);
    const int status = WaitChild(t.pid);
    const std::string& seen = t.seen;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    return seen;
  }
};

TEST_F(MannersTest, TheSystemsMessagesGainTheirEnglishOutsideAJapaneseLocale) {
  const std::string japanese = "palvo: Veltaが見つかりません\n";
  const std::string english =
      "palvo: Veltaが見つかりません (no handset found: is it plugged in, switched on, and its "
      "USB serial driver loaded?)\n";
  // The first of LC_ALL, LC_MESSAGES and LANG that is set decides.
  const struct {
    std::vector<std::string> env;
    const std::string& want;
  } cases[] = {
      {{"LC_ALL=C"}, english},
      {{"LC_ALL=ja_JP.eucJP"}, japanese},
      {{"LC_ALL=", "LC_MESSAGES=", "LANG=en_US.UTF-8"}, english},
      {{"LC_ALL=", "LC_MESSAGES=ja_JP.UTF-8", "LANG=C"}, japanese},
      {{"LC_ALL=", "LC_MESSAGES=C", "LANG=ja_JP.UTF-8"}, english},
      {{"LC_ALL=", "LC_MESSAGES=", "LANG=ja"}, japanese},
      {{"LC_ALL=", "LC_MESSAGES=", "LANG="}, english},
      {{"LC_ALL=jam_JM"}, english},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env.back());
    const Result r = Palvo({"list"}, "", c.env);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.want);
  }
}

// Nothing is sent when a file fails its check; the message names the file
// and the line the check stopped on.
TEST_F(MannersTest, AFileThatFailsItsCheckIsNamedWithItsLine) {
  StartHandset();
  const struct {
    const char* file;
    std::string bytes;
    std::string problem;
  } cases[] = {
      {"bookmark.txt", ";list\r\n00\t01\ta\thttp://a.jp/\r\n00\t01\tb\thttp://b.jp/\r\n",
       "bookmark.txt, line 3: チェック:番号が重複"},
      {"bookmark.txt", "00\t01\ta\thttp://a.jp/\r\n20\t02\tb\thttp://b.jp/\r\n",
       "bookmark.txt, line 2: チェック:フォルダは00～19"},
      {"address.txt", "BEGIN:VCARD\r\nFN:a\r\nEND:VCARD\r\n\r\nFN:b\r\n",
       "address.txt, line 5: チェック:フォーマットエラー"},
      {"address.txt", "BEGIN:VCARD\r\nFN:a\r\n",
       "address.txt, line 2: チェック:フォーマットエラー"},
      {"mail004.txt", "Subject: not a mail file\r\n\r\ntext\r\n",
       "mail004.txt, line 1: チェック:フォーマットエラー"},
  };
  const std::string bookmarks = ReadAll(content / "bookmarks.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    WriteAll(root / "work" / c.file, c.bytes);
    // First in the list, after a good file: the good one is not sent either.
    WriteAll(root / "work" / "fine.gif", "GIF89a");
    const Result r = Palvo({"put", "--yes", "fine.gif", c.file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "palvo: " + c.problem + "\n");
    EXPECT_FALSE(fs::exists(content / "files" / "image" / "fine.gif"));
    fs::remove(root / "work" / c.file);
  }
  EXPECT_SAME_BYTES(ReadAll(content / "bookmarks.txt"), bookmarks);
  // Its meaning follows outside Japanese.
  WriteAll(root / "work" / "bookmark.txt", cases[0].bytes);
  const Result r = Palvo({"put", "bookmark.txt"}, "", {"LC_ALL=C"});
  EXPECT_EQ(r.err, "palvo: " + cases[0].problem +
                       " (check failed: two bookmarks have the same memory number; nothing was "
                       "sent)\n");
}

TEST_F(MannersTest, FailuresExitOneAndSayWhichPathAndWhy) {
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);  // the PIN is kept from here on
  fs::create_directories(root / "locked");
  WriteAll(root / "plain", "a file where a folder is needed");
  fs::permissions(root / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  const struct {
    std::vector<std::string> args;
    std::string err;  // a part of standard error
  } cases[] = {
      {{"get", "sky.png", "nosuch.jpg"}, "palvo: その名前の行はありません: nosuch.jpg\n"},
      {{"get", "--to", "-", "nosuch.jpg"}, "palvo: その名前の行はありません: nosuch.jpg\n"},
      {{"put", "missing.gif"}, "palvo: 読めません: missing.gif: No such file or directory\n"},
      {{"put", "--all", "nodir"}, "palvo: 読めません: nodir: No such file or directory\n"},
      {{"get", "--to", Path("no/such/x.png"), "sky.png"}, ": No such file or directory\n"},
      {{"get", "--to", Path("plain/such/"), "sky.png"},
       Path("plain") + " はフォルダではなくファイルです"},
      {{"get", "--to", Path("locked"), "sky.png"}, "書き込めません: " + Path("locked")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    if (::geteuid() == 0 && c.err.find("locked") != std::string::npos) continue;  // root writes
    const Result r = Palvo(c.args, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(fs::is_empty(root / "work"));
}

TEST_F(MannersTest, AStandardOutputThatCannotTakeTheOutputFails) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(300000));
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);
  const struct {
    const char* script;
    const char* reason;
  } cases[] = {
      {"palvo list --tsv >&-", "Bad file descriptor"},
      {"palvo list >/dev/full", "No space left on device"},
      {"palvo get --to - big.bin >/dev/full", "No space left on device"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const Result r = Shell(c.script);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("palvo: cannot write to standard output: ") + c.reason + "\n");
  }
}

TEST_F(MannersTest, ScriptsGetExactOutput) {
  StartHandset();
  Result r = Palvo({"list", "--tsv", "--header"});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 12u) << r.out;
  EXPECT_EQ(lines[0], "icon\tname\tsize\tdate_or_kind\tbytes");
  EXPECT_EQ(lines[4], "0\t写真.jpg\t20K\t2010/10/10 10:10\t20000");

  // One row on standard output, byte for byte; nothing else there.
  const struct {
    const char* row;
    std::string bytes;
  } rows[] = {{"写真.jpg", photo}, {"bookmark.txt", ReadAll(content / "bookmarks.txt")}};
  for (const auto& row : rows) {
    r = Palvo({"get", "--to", "-", row.row}, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_SAME_BYTES(r.out, row.bytes);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_TRUE(fs::is_empty(root / "work"));

  // help COMMAND is COMMAND --help; the handset's options are in it.
  const Result help = Palvo({"help", "get"}, ""), own = Palvo({"get", "--help"}, "");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, own.out);
  for (const char* word : {"usage: palvo get", "--to PATH", "--port PORT", "--pin-file FILE",
                           "--quiet", "--verbose", "PALVO_PIN_FILE", "Exit status"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST_F(MannersTest, VerboseShowsEachStepQuietOnlyErrors) {
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);
  Result r = Palvo({"-v", "get", "--to", Path("out") + "/", "sky.png", "memo.txt"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> download = {
      "palvo: ポート: " + handsetPort, "palvo: 開きました: " + handsetPort,
      "palvo: ログインしました",       "palvo: 1/2 sky.png",
      "palvo: 2/2 memo.txt",           "palvo: 切断しました"};
  // The listing and the download in one connection, then the summary.
  const auto lines = Lines(r.err);
  ASSERT_EQ(lines.size(), 7u) << r.err;
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6), download);
  EXPECT_EQ(lines[6].rfind("palvo: 保存 2 行、変更なし 0 行", 0), 0u) << lines[6];

  // Quiet: not even the note of what a put replaced.
  WriteAll(root / "work" / "bookmark.txt", "00\t01\tonly\thttp://example.jp/\r\n");
  r = Palvo({"-q", "put", "bookmark.txt"}, "");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  r = Palvo({"put", "bookmark.txt"}, "");
  EXPECT_EQ(r.err, "palvo: 電話機のブックマーク 1 件をファイルの 1 件で置き換えました\n");
}

// A run's notes in its one language, each language whole; the English ones
// exactly as scripts have read them.
TEST_F(MannersTest, NotesInTheRunsLanguage) {
  StartHandset();
  WriteAll(root / "work" / "bookmark.txt", "00\t01\tonly\thttp://example.jp/\r\n");
  const std::string& port = handsetPort;
  const struct {
    std::vector<std::string> args;
    std::string english, japanese;  // standard error, the time taken as T
  } cases[] = {
      {{"pin"}, "palvo: the PIN is kept\n", "palvo: 暗証番号を保存しました\n"},
      {{"-v", "get", "memo.txt", "--to", "m.txt"},
       "palvo: port " + port + "\npalvo: opened " + port +
           "\npalvo: logged in\npalvo: 1/1 memo.txt\npalvo: goodbye\npalvo: 1 row saved, 0 kept "
           "unchanged, 0 renamed, 0 not saved, 20 bytes in T s\n",
       "palvo: ポート: " + port + "\npalvo: 開きました: " + port +
           "\npalvo: ログインしました\npalvo: 1/1 memo.txt\npalvo: 切断しました\npalvo: 保存 1 "
           "行、変更なし 0 行、改名 0 行、保存できず 0 行、20 バイト、T 秒\n"},
      {{"put", "bookmark.txt"},
       "palvo: replaced the handset's 3 bookmarks with 1\n",  // English runs first
       "palvo: 電話機のブックマーク 1 件をファイルの 1 件で置き換えました\n"},
      {{"pin", "--forget"},
       "palvo: the kept PIN is forgotten\n",
       "palvo: 保存した暗証番号を消しました\n"},
      {{"pin", "--forget"}, "palvo: no PIN was kept\n", "palvo: 保存した暗証番号はありません\n"},
  };
  for (const bool english : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.args.back());
      const Result r = Palvo(c.args, "1234\n", {english ? "LC_ALL=C.UTF-8" : "LC_ALL=ja_JP.UTF-8"});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(ComparableOutput(r.err, false), english ? c.english : c.japanese);
    }
  }
}

TEST_F(MannersTest, APortTheRegistryDoesNotShow) {
  StartHandset({"--no-register"});
  Result r = Palvo({"list", "--tsv"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "palvo: Veltaが見つかりません\n");
  r = Palvo({"--port", handsetPort, "list", "--tsv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), 11u);
  // No driver publishes that port: the PIN was not kept, and pin says so.
  r = Palvo({"list", "--port", handsetPort}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("暗証番号がありません"), std::string::npos) << r.err;
  r = Palvo({"pin", "--port", handsetPort});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("このポートでは保存できません: " + handsetPort), std::string::npos) << r.err;
}

TEST_F(MannersTest, ThePinForPeopleAndForScripts) {
  StartHandset();
  Result r = Palvo({"pin"}, "1234\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "palvo: 暗証番号を保存しました\n");
  EXPECT_EQ(Palvo({"list"}, "").status, 0);
  r = Palvo({"pin", "--forget"}, "");
  EXPECT_EQ(r.err, "palvo: 保存した暗証番号を消しました\n");
  r = Palvo({"list"}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("palvo pin"), std::string::npos) << r.err;

  // A PIN file serves only when nobody else may read it; it is not kept.
  WriteAll(root / "pin", "1234\n");
  WriteAll(root / "wrong", " 9999 \n");
  const struct {
    std::vector<std::string> args, env;
    fs::perms mode;
    int status;
    std::string err;  // a part of standard error
  } cases[] = {
      {{"--pin-file", Path("pin"), "list"}, {}, fs::perms::owner_read, 0, ""},
      {{"list"},
       {"PALVO_PIN_FILE=" + Path("pin")},
       fs::perms::owner_read | fs::perms::owner_write,
       0,
       ""},
      {{"list", "--pin-file", Path("pin")},
       {},
       fs::perms::owner_read | fs::perms::group_read,
       1,
       "ほかの人も読めます"},
      {{"list", "--pin-file", Path("pin")},
       {},
       fs::perms::owner_read | fs::perms::others_read,
       1,
       "ほかの人も読めます"},
      {{"list", "--pin-file", Path("wrong")},
       {},
       fs::perms::owner_read,
       1,
       Path("wrong") + " の暗証番号は拒否されました"},
      {{"list", "--pin-file", "1234"}, {}, fs::perms::owner_read, 1, "暗証番号ファイル 1234: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back() + " " + c.err);
    fs::permissions(root / "pin", c.mode);
    fs::permissions(root / "wrong", c.mode);
    r = Palvo(c.args, "", c.env);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("9999"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Palvo({"list"}, "").status, 1);  // still nothing kept
}

TEST_F(MannersTest, ARefusedStoredPinWithoutATerminalSaysHowToEnterIt) {
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);
  StopHandset();
  StartHandset({"--pin", "4321"});
  const Result r = Palvo({"list"}, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Lines(r.err).at(0), "palvo: 暗証番号が誤りです");
  EXPECT_NE(r.err.find("保存された暗証番号は拒否されたので消しました"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'palvo pin'"), std::string::npos) << r.err;
}

// On a terminal the table fits its width; long names are cut with "…" and
// the size and date columns stay aligned.
TEST_F(MannersTest, TheListingFitsTheTerminal) {
  WriteAll(content / "files" / "other" / "a-very-long-name-for-a-narrow-terminal.txt", "x");
  // "写真" six times (Shift-JIS) and ".jpg": 28 columns.
  std::string wide;
  for (int i = 0; i < 6; ++i) wide += "\x8E\xCA\x90\x5E";
  WriteAll(content / "files" / "image" / (wide + ".jpg"), "y");
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);
  for (const int columns : {40, 45}) {
    SCOPED_TRACE(columns);
    std::string screen = OnTerminal({"list"}, columns);
    for (std::size_t at; (at = screen.find('\r')) != std::string::npos;) screen.erase(at, 1);
    const auto lines = Lines(screen);
    ASSERT_GE(lines.size(), 14u) << screen;
    int cut = 0, fileRowWidth = 0;
    for (const std::string& line : lines) {
      EXPECT_LE(Columns(line), columns) << line;
      if (line.find("…") != std::string::npos) ++cut;
      // A file row ends with its date: all end in the same column.
      if (line.size() > 16 && line[line.size() - 3] == ':') {
        if (!fileRowWidth) fileRowWidth = Columns(line);
        EXPECT_EQ(Columns(line), fileRowWidth) << line;
      }
    }
    EXPECT_EQ(cut, 2) << screen;
  }
  // Piped, names are whole.
  const Result piped = Palvo({"list"}, "");
  EXPECT_NE(piped.out.find("a-very-long-name-for-a-narrow-terminal.txt"), std::string::npos);
}

// The progress line of a restore names the file and its number.
TEST_F(MannersTest, ProgressOfARestoreShowsTheFileNumber) {
  StartHandset({"--throttle", "200000"});
  ASSERT_EQ(Palvo({"list"}).status, 0);
  WriteAll(root / "work" / "one.bin", Pattern(250000));
  WriteAll(root / "work" / "two.bin", Pattern(250000));
  const std::string screen = OnTerminal({"put", "one.bin", "two.bin"}, 80);
  EXPECT_NE(screen.find("\r1/2 one.bin  "), std::string::npos) << screen;
  EXPECT_NE(screen.find("\r2/2 two.bin  "), std::string::npos) << screen;
  EXPECT_NE(screen.find(" / 250K  "), std::string::npos) << screen;
  // Cleared at the end: blanks after the last carriage return but one.
  const std::size_t last = screen.find_last_of('\r');
  ASSERT_NE(last, std::string::npos);
  EXPECT_EQ(screen[screen.find_last_not_of(' ', last - 1)], '\r') << screen;
  // Not with --quiet.
  EXPECT_EQ(OnTerminal({"-q", "put", "one.bin"}, 80).find(" / "), std::string::npos);
}

}  // namespace

#endif  // _WIN32

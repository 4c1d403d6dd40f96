// Restoring with palvo put: several files, or a whole backup folder, in one
// connection, every file checked before anything is sent, the replacement of
// the handset's bookmarks or addresses said before it happens.
#ifndef _WIN32

#include <iconv.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <chrono>
#include <map>
#include <thread>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

const char kManifest[] = "palvo-backup.tsv";

// The bytes an editor saving in code page 932 writes for UTF-8 text.
std::string Cp932(const std::string& utf8) {
  iconv_t cd = ::iconv_open("CP932", "UTF-8");
  std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  std::size_t left = in.size(), room = out.size();
  const std::size_t r = ::iconv(cd, &src, &left, &dst, &room);
  ::iconv_close(cd);
  EXPECT_NE(r, static_cast<std::size_t>(-1)) << utf8;
  out.resize(out.size() - room);
  return out;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

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

  // get --all records what it saved in its manifest; a folder without one
  // gets one here naming the given hidden files as saved.
  static void MarkAsBackup(const fs::path& dir, const std::vector<std::string>& hidden = {}) {
    if (fs::exists(dir / kManifest)) return;
    std::string text = "# palvo\tname\tbytes\tcategory\tlocal\tsize\tdate\tsha256\tsaved\n";
    for (const std::string& name : hidden)
      text += name + "\t\tother\t" + name + "\t0\t\t" + std::string(64, '0') + "\t\n";
    WriteAll(dir / kManifest, text);
  }

  // Every file of the handset's content folder with its bytes.
  std::map<std::string, std::string> Content() {
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(content))
      if (e.is_regular_file() && e.path().filename() != "dates.txt")
        all[fs::relative(e.path(), content).string()] = ReadAll(e.path());
    return all;
  }

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
    MarkAsBackup(Work("first"),
                 withOddNames ? std::vector<std::string>{".hidden"} : std::vector<std::string>{});

    StartEmptyHandset();
    ClearLog();
    r = Palvo({"put", "--all", "first"});
    EXPECT_EQ(r.status, 0) << r.err;
    // One connection: one log-in; one listing to see which files the
    // handset holds, one at the end.
    EXPECT_EQ(Requests("0/1/1"), 1);
    EXPECT_EQ(Requests("2/6/1"), 2);
    // Without a terminal it went ahead, and says what it replaced.
    EXPECT_NE(r.err.find("palvo: 電話機のブックマーク 0 件をファイルの 3 件で置き換えました\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("palvo: 電話機のアドレス 0 件をファイルの 2 件で置き換えました\n"),
              std::string::npos)
        << r.err;

    r = Palvo({"get", "--all", "--to", "again"});
    EXPECT_EQ(r.status, 0) << r.err;
    fs::remove(Work("first") / kManifest);
    fs::remove(Work("again") / kManifest);
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
    EXPECT_NE(
        seen.find("palvo: 電話機のブックマーク 3 件をファイルの 1 件で置き換えますか? [y/N] "),
        std::string::npos)
        << seen;
    const bool yes = answer[0] == 'y';
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (yes ? 0 : 1)) << seen;
    if (yes) {
      EXPECT_NE(ReadAll(content / "bookmarks.txt").find("only"), std::string::npos);
    } else {
      EXPECT_NE(seen.find("bookmark.txt は送りませんでした"), std::string::npos) << seen;
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

// get --all, then put --all into the same handset, twice: mails are not
// doubled, files not sent again, and the handset holds what it held.
TEST_F(RestoreTest, RestoringIntoTheSameHandsetTwiceLeavesItAsItWas) {
  StartHandset();
  ASSERT_EQ(Palvo({"get", "--all", "--to", "b1"}).status, 0);
  MarkAsBackup(Work("b1"));
  const auto before = Content();
  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    ClearLog();
    const Result r = Palvo({"put", "--all", "--yes", "b1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Requests("3/6/3"), 0);                      // no ordinary file went up again
    EXPECT_EQ(Requests("3/4/3") + Requests("3/5/3"), 0);  // nor a mail
    EXPECT_NE(r.err.find("電話機にあるので省略"), std::string::npos) << r.err;
    EXPECT_EQ(Content(), before);
  }
  // --force sends the ordinary files all the same; the mails still not.
  ClearLog();
  const Result forced = Palvo({"put", "--all", "--yes", "--force", "b1"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_GT(Requests("3/6/3"), 0);
  EXPECT_EQ(Requests("3/4/3") + Requests("3/5/3"), 0);
  EXPECT_EQ(Content(), before);
}

// A mail the handset does not hold goes up; one it holds does not, also when
// named on the command line.
TEST_F(RestoreTest, OnlyMailsTheHandsetLacksGoUp) {
  StartHandset();
  ASSERT_EQ(Palvo({"get", "--all", "--to", "b1"}).status, 0);
  const std::string held = ReadAll(Work("b1/mail000.txt"));
  ASSERT_FALSE(held.empty());
  WriteAll(Work("mail100.txt"), "X-PORIKA-MAIL: a,b,c,d\r\nnew body\r\n");
  const std::size_t mails =
      FileNames(content / "mail").size() + FileNames(content / "lightmail").size();
  const Result r = Palvo({"put", "b1/mail000.txt", "mail100.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(FileNames(content / "mail").size() + FileNames(content / "lightmail").size(),
            mails + 1);
}

// A Ctrl-C while a set goes up waits until it is whole: the handset holds the
// old set (the stop came before the set began) or the new one, never part of it.
TEST_F(RestoreTest, ASignalDuringASetUploadLeavesTheOldOrTheNewSet) {
  std::string bookmarks, cards;
  for (int i = 0; i < 100; ++i)
    bookmarks += std::string("00\t") + static_cast<char>('0' + i / 10) +
                 static_cast<char>('0' + i % 10) + "\tentry\thttp://example.jp/" +
                 std::to_string(i) + "\r\n";
  for (int i = 0; i < 40; ++i)
    cards += "BEGIN:VCARD\r\nVERSION:2.1\r\nN:name" + std::to_string(i) + "\r\nEND:VCARD\r\n";
  WriteAll(Work("bookmark.txt"), bookmarks);
  WriteAll(Work("address.txt"), cards);
  WriteAll(Work("first.bin"), Pattern(30000));
  const struct {
    std::vector<std::string> files;
    std::string record;  // the request of one entry of the set
    const char* stored;  // where the handset keeps the set
    int newCount;
    int after;  // entries sent before the signal; -1: once first.bin began to go up
  } cases[] = {{{"first.bin", "bookmark.txt"}, "3/8/3", "bookmarks.txt", 100, -1},
               {{"bookmark.txt"}, "3/8/3", "bookmarks.txt", 100, 1},
               {{"bookmark.txt"}, "3/8/3", "bookmarks.txt", 100, 60},
               {{"address.txt"}, "3/3/3", "address.vcf", 40, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.files.back() + " after " + std::to_string(c.after));
    StopHandset();
    fs::remove_all(content);
    fs::copy(kSource / "handset" / "sample", content, fs::copy_options::recursive);
    const std::string old = ReadAll(content / c.stored);
    StartHandset({"--throttle", "8000"});
    ClearLog();
    std::vector<std::string> args = {"put", "--yes"};
    args.insert(args.end(), c.files.begin(), c.files.end());
    const pid_t pid = StartPalvo(args);
    ASSERT_TRUE(WaitUntil(
        [&] { return c.after >= 0 ? Requests(c.record) >= c.after : Requests("2/6/1") >= 1; }));
    ::kill(pid, SIGINT);
    const Result r = WaitPalvo(pid);
    EXPECT_EQ(r.status, 130) << r.err;
    const bool held = c.after >= 0;
    // The note in the run's language (these runs are Japanese).
    const std::string what = c.record == "3/8/3" ? "ブックマーク" : "アドレス帳";
    EXPECT_EQ(r.err.find("palvo: " + what +
                         "を書き終えるまで待ちます。すぐ止めるにはもう一度 Ctrl-C\n") !=
                  std::string::npos,
              held)
        << r.err;
    EXPECT_EQ(Requests(c.record), held ? c.newCount : 0);
    EXPECT_EQ(ReadAll(content / c.stored) == old, !held);
  }
}

// The second signal still ends palvo at once, set or not, once it comes a
// second after the first (two within a second are one request).
TEST_F(RestoreTest, ASecondSignalStopsAtOnce) {
  constexpr int kCards = 200;
  std::string cards;
  for (int i = 0; i < kCards; ++i)
    cards += "BEGIN:VCARD\r\nVERSION:2.1\r\nN:name" + std::to_string(i) + "\r\nEND:VCARD\r\n";
  WriteAll(Work("address.txt"), cards);
  StartHandset({"--throttle", "2000"});
  const pid_t pid = StartPalvo({"put", "--yes", "address.txt"});
  ASSERT_TRUE(WaitUntil([&] { return Requests("3/3/3") >= 2; }));
  ::kill(pid, SIGINT);
  // The first taken in (the upload went on), then a second later the second.
  const int seen = Requests("3/3/3");
  ASSERT_TRUE(WaitUntil([&] { return Requests("3/3/3") > seen; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ::kill(pid, SIGINT);
  const Result r = WaitPalvo(pid);
  EXPECT_NE(r.status, 0);
  EXPECT_LT(Requests("3/3/3"), kCards);
}

// The handset refuses the second file: the third still goes up in the same
// connection, and the end names the refused one, with exit status 1.
TEST_F(RestoreTest, ARefusedFileDoesNotEndTheRestore) {
  StartEmptyHandset({"--set", "refuse 6 1"});
  WriteAll(Work("a.gif"), "GIF89a-a");
  WriteAll(Work("b.mid"), "MThd-b");
  WriteAll(Work("c.txt"), "third");
  ClearLog();
  const Result r = Palvo({"put", "a.gif", "b.mid", "c.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Requests("0/1/1"), 1);
  EXPECT_EQ(ReadAll(content / "files/image/a.gif"), "GIF89a-a");
  EXPECT_FALSE(fs::exists(content / "files/music/b.mid"));
  EXPECT_EQ(ReadAll(content / "files/other/c.txt"), "third");
  EXPECT_NE(r.err.find("palvo: b.mid: 転送に失敗しました\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("palvo: 電話機が受け付けませんでした: b.mid\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("アップロード 2、電話機にあるので省略 0、拒否 1"), std::string::npos)
      << r.err;
}

// Names the handset would refuse fail the check, before anything is sent.
TEST_F(RestoreTest, NamesTheHandsetRefusesFailTheCheck) {
  StartHandset();
  WriteAll(Work("x.txt"), "x");
  const std::string so = "\xE3\x82\xBD.txt";  // "ソ": Shift-JIS 83 5C
  WriteAll(Work(so), "so");
  const std::vector<std::vector<std::string>> cases = {
      {"put", "--as", "a/b.txt", "x.txt"}, {"put", "--as", "a\\b.txt", "x.txt"}, {"put", so}};
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back());
    ClearLog();
    const Result r = Palvo(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("チェック:ファイル名に使えない文字があります"), std::string::npos)
        << r.err;
    EXPECT_EQ(Requests(""), 0);
  }
}

// A folder get --all did not make is asked about, or needs --yes; from any
// folder, hidden files, links, sockets, palvo's own files and folders stay.
TEST_F(RestoreTest, OnlyPlainFilesOfAFolderGoUp) {
  StartEmptyHandset();
  const fs::path dir = Work("odd");
  WriteAll(dir / "photo.gif", "GIF89a");
  WriteAll(dir / ".bash_history", "secret");
  WriteAll(dir / ".palvo-x.gif.part", "half");
  WriteAll(dir / "palvo-attic/old.gif", "old");
  fs::create_symlink("/etc/hostname", dir / "host.txt");
  const std::string socketPath = (dir / "sock").string();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);

  ClearLog();
  Result r = Palvo({"put", "--all", "odd"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("odd は palvo get --all で作ったフォルダではありません"), std::string::npos)
      << r.err;
  EXPECT_EQ(Requests(""), 0);

  for (const bool manifest : {false, true}) {
    SCOPED_TRACE(manifest ? "a backup" : "--yes");
    if (manifest) MarkAsBackup(dir);
    r = Palvo(manifest ? std::vector<std::string>{"put", "--all", "odd"}
                       : std::vector<std::string>{"put", "--all", "--yes", "odd"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(FileNames(content / "files/image"), std::vector<std::string>{"photo.gif"});
    EXPECT_FALSE(fs::exists(content / "files/other"));
  }
  ::close(fd);
}

// A bookmark or address file without entries replaces the handset's set only
// with --yes (or a yes on a terminal); else nothing is sent.
TEST_F(RestoreTest, AnEmptySetFileNeedsAYes) {
  const struct {
    const char* file;
    const char* text;
    const char* stored;
  } cases[] = {{"bookmark.txt", "", "bookmarks.txt"},
               {"bookmark.txt", "; only a comment\r\n", "bookmarks.txt"},
               {"address.txt", "\r\n", "address.vcf"}};
  StartHandset();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file + std::string(" ") + c.text);
    WriteAll(Work(c.file), c.text);
    const std::string before = ReadAll(content / c.stored);
    ASSERT_FALSE(before.empty());
    ClearLog();
    Result r = Palvo({"put", c.file});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "palvo: " + std::string(c.file) + ": チェック:データがありません\n");
    EXPECT_EQ(Requests(""), 0);
    EXPECT_EQ(ReadAll(content / c.stored), before);
  }
  const Result r = Palvo({"put", "--yes", "address.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadAll(content / "address.vcf"), "");
}

// Text edited as UTF-8 (LF line ends, with or without a BOM) goes up as the
// bytes a code page 932 editor would have saved; a character the code page
// lacks fails the check with the file, the line and the character.
TEST_F(RestoreTest, Utf8TextGoesUpAsTheHandsetsText) {
  const struct {
    const char* file;
    std::string text;  // UTF-8, LF
    const char* stored;
  } cases[] = {
      {"address.txt", "BEGIN:VCARD\nVERSION:2.1\nN:鈴木;一郎\nTEL:090\nEND:VCARD\n", "address.vcf"},
      {"bookmark.txt",
       "\xEF\xBB\xBF"
       "00\t05\t日本の天気\thttp://example.jp/\n",
       "bookmarks.txt"},
      {"mail200.txt", "X-PORIKA-MAIL: 件名,a@b,c,d\n本文です。\nソ表\n", nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string bare = c.text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? c.text.substr(3) : c.text;
    // What the handset keeps of the Shift-JIS file, then of the UTF-8 one.
    std::string kept[2];
    for (int utf8 = 0; utf8 < 2; ++utf8) {
      StartEmptyHandset();
      WriteAll(Work(c.file), utf8 ? c.text : Cp932(WithCrLf(bare)));
      const Result r = Palvo({"put", "--yes", c.file});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err.find("に変換しました") != std::string::npos, utf8 == 1) << r.err;
      kept[utf8] = c.stored ? ReadAll(content / c.stored)
                            : ReadAll(content / "mail" / FileNames(content / "mail").at(0));
      fs::remove_all(content);
    }
    EXPECT_FALSE(kept[0].empty());
    EXPECT_EQ(kept[1], kept[0]);
  }
  StartEmptyHandset();
  WriteAll(Work("address.txt"), "BEGIN:VCARD\nN:caf\xC3\xA9\nEND:VCARD\n");
  ClearLog();
  const Result r = Palvo({"put", "--yes", "address.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "palvo: address.txt, line 2: チェック:送れない文字があります \"\xC3\xA9\" (U+00E9)\n");
  EXPECT_EQ(Requests(""), 0);
}

}  // namespace

#endif  // _WIN32

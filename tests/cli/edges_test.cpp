// What a new user meets at the terminal: a pipe that closes early, a narrow
// screen, a PIN mistyped, a port that is not there, a file that cannot be
// written, the language of the run, and what a backup folder lets others see.
#ifndef _WIN32

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

class EdgesTest : public PalvoTest {
 protected:
  // The redraws of a terminal's screen: the texts between carriage returns
  // and line ends.
  static std::vector<std::string> Redraws(const std::string& screen) {
    std::vector<std::string> pieces(1);
    for (const char c : screen) {
      if (c == '\r' || c == '\n') {
        pieces.emplace_back();
      } else {
        pieces.back() += c;
      }
    }
    return pieces;
  }

  static int Mode(const fs::path& path) {
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
  }
};

// A reader that has read enough ends palvo without a word, as SIGPIPE would;
// a short output may arrive whole before the reader goes (status 0).
TEST_F(EdgesTest, AClosedPipeEndsQuietly) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(300000));
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);
  const struct {
    const char* script;
    bool mustBreak;  // more than a pipe holds: the write meets the closed pipe
  } cases[] = {
      {"palvo help | head -1 >/dev/null; exit ${PIPESTATUS[0]}", false},
      {"palvo get --help | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}", false},
      {"palvo get --to - big.bin | head -c 1 >/dev/null; exit ${PIPESTATUS[0]}", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    const Result r = Shell(c.script);
    if (c.mustBreak) {
      EXPECT_EQ(r.status, 141);
    } else {
      EXPECT_TRUE(r.status == 0 || r.status == 141) << r.status;
    }
    EXPECT_EQ(r.err, "");
  }
}

// However narrow the terminal, no redraw of the progress line is wider than
// it, the figures give way before the name is cut, a cut name keeps its
// extension, and the line is blanked when done.
TEST_F(EdgesTest, TheProgressLineFitsANarrowTerminal) {
  const std::string name = "a_really_long_name_for_testing.bin";
  WriteAll(content / "files" / "other" / name, Pattern(400000));
  StartHandset({"--throttle", "200000"});
  ASSERT_EQ(Palvo({"list"}).status, 0);
  const struct {
    int columns;
    const char* shows;  // a part of some redraw
    bool bytes;         // the bytes done of the total are still there
  } cases[] = {{80, "a_really_long_name_for_testing.bin  ", true},
               {40, "a_really_…ting.bin  ", true},
               {24, "a_reall…ing.bin  ", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.columns);
    Terminal t({"get", "--to", (root / "out.bin").string(), name}, {registry}, {}, c.columns);
    t.Read(60, 200);
    const int status = WaitChild(t.pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << t.seen;
    int drawn = 0;
    bool shown = false;
    // The run's summary line follows the blanked progress line.
    const std::string progress = t.seen.substr(0, t.seen.rfind("palvo: 保存 1 行"));
    for (const std::string& piece : Redraws(progress)) {
      EXPECT_LT(Columns(piece), c.columns) << piece;
      drawn += piece.find('%') != std::string::npos;
      shown = shown || piece.find(c.shows) != std::string::npos;
    }
    EXPECT_GT(drawn, 0) << t.seen;
    EXPECT_TRUE(shown) << t.seen;
    // In the listing's units, as long as there is room.
    EXPECT_EQ(t.seen.find(" / 400K") != std::string::npos, c.bytes) << t.seen;
    const std::size_t last = progress.find_last_of('\r');
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(progress[progress.find_last_not_of(' ', last - 1)], '\r') << t.seen;
  }
}

// A terminal made narrower during a download: once it has seen the resize,
// no redraw is wider than the new width.
TEST_F(EdgesTest, TheProgressLineFollowsAResizedTerminal) {
  const std::string name = "a_really_long_name_for_testing.bin";
  WriteAll(content / "files" / "other" / name, Pattern(600000));
  StartHandset({"--throttle", "200000"});
  ASSERT_EQ(Palvo({"list"}).status, 0);
  Terminal t({"get", "--to", (root / "out.bin").string(), name}, {registry}, {}, 80);
  std::size_t resizedAt = std::string::npos;
  t.Read(60, 50, [&] {
    if (resizedAt != std::string::npos || t.seen.find('%') == std::string::npos) return;
    winsize size = {};
    size.ws_row = 24;
    size.ws_col = 30;
    ASSERT_EQ(::ioctl(t.master, TIOCSWINSZ, &size), 0);  // SIGWINCH to palvo
    resizedAt = t.seen.size();
  });
  const int status = WaitChild(t.pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << t.seen;
  ASSERT_NE(resizedAt, std::string::npos) << t.seen;
  const std::string after = t.seen.substr(resizedAt, t.seen.rfind("palvo: ") - resizedAt);
  const std::vector<std::string> pieces = Redraws(after);
  int drawn = 0;
  // The first two: the rest of a redraw under way, and one composed before
  // the signal came.
  for (std::size_t i = 2; i < pieces.size(); ++i) {
    EXPECT_LT(Columns(pieces[i]), 30) << pieces[i];
    drawn += pieces[i].find('%') != std::string::npos;
  }
  EXPECT_GT(drawn, 0) << t.seen;
}

// A file that cannot be written and a port that cannot be the handset's are
// named with the system's reason; a port fails before the PIN is asked (no
// PIN is kept and none is given here: a question would say so).
TEST_F(EdgesTest, AFileOrPortThatFailsIsNamedWithTheReason) {
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);
  Result r = Palvo({"get", "memo.txt", "--to", "/dev/full"}, "");
  EXPECT_EQ(r.status, 1);
  // The failure first, then the run's summary line.
  EXPECT_EQ(r.err.rfind("palvo: ファイルが書き込めません: /dev/full: No space left on device\n"
                        "palvo: 保存 0 行、変更なし 0 行、改名 0 行、保存できず 0 行、0 バイト、",
                        0),
            0u)
      << r.err;
  ASSERT_EQ(Palvo({"pin", "--forget"}, "").status, 0);
  const fs::path plain = root / "work" / "plain";
  WriteAll(plain, "");
  const struct {
    std::string port, err;
  } cases[] = {
      {"/dev/ttyNONE9",
       "palvo: オープンに失敗しました: /dev/ttyNONE9: No such file or directory\n"},
      {"/dev/null", "palvo: 通信ポートではありません: /dev/null\n"},
      {plain.string(), "palvo: 通信ポートではありません: " + plain.string() + "\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    r = Palvo({"list", "--port", c.port}, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
  }
}

// The PIN is four digits: anything else is never sent. From a pipe it is
// refused; on a terminal it is asked again, and so is a PIN the handset
// refused (once).
TEST_F(EdgesTest, APinThatIsNotFourDigitsIsNeverSent) {
  StartHandset();
  for (const char* typed : {"12\n", "\n", "12345\n", "12a4\n"}) {
    SCOPED_TRACE(typed);
    const Result r = Palvo({"list"}, typed);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("標準入力の暗証番号が4桁の数字ではありません"), std::string::npos)
        << r.err;
  }
  EXPECT_EQ(ReadAll(root / "handset.log").find("request"), std::string::npos);

  Terminal t({"list"}, {registry}, root / "work");
  int prompts = 0;
  t.Read(30, 50, [&] {
    std::size_t n = 0;
    for (std::size_t at = t.seen.find("暗証番号: "); at != std::string::npos;
         at = t.seen.find("暗証番号: ", at + 1))
      ++n;
    const char* typed[] = {"12\n", "1111\n", "1234\n"};
    if (static_cast<int>(n) > prompts && prompts < 3) t.Type(typed[prompts++]);
  });
  const int status = WaitChild(t.pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << t.seen;
  EXPECT_EQ(prompts, 3) << t.seen;
  EXPECT_NE(t.seen.find("palvo: 暗証番号は4桁の数字です"), std::string::npos) << t.seen;
  EXPECT_NE(t.seen.find("palvo: 暗証番号が誤りです"), std::string::npos) << t.seen;
  EXPECT_NE(t.seen.find("bookmark.txt"), std::string::npos) << t.seen;
}

// A driver entry written by hand that names a dead port, before the live
// handset's, does not hide it; -v says which one could not be used.
TEST_F(EdgesTest, TheSearchTriesEveryEntryOfTheHandsetsDriver) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Drivers\\Active\\00", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const WCHAR dead[] = L"/dev/ttyNONE9";
  RegSetValueExW(key, L"Key", 0, REG_SZ, reinterpret_cast<const BYTE*>(kDriverKey),
                 sizeof kDriverKey);
  RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(dead), sizeof dead);
  RegCloseKey(key);
  StartHandset();
  const Result r = Palvo({"-v", "list", "--tsv"}, "1234\n", {"LC_ALL=C"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("palvo: cannot use /dev/ttyNONE9: No such file or directory"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("bookmark.txt"), std::string::npos);
  // A registry file that cannot be read is named, not taken for no handset.
  const fs::path folder = root / "folder.reg";
  fs::create_directories(folder);
  const Result f = Palvo({"list"}, "", {"PALVO_REGISTRY=" + folder.string(), "LC_ALL=C"});
  EXPECT_EQ(f.status, 1);
  EXPECT_EQ(f.err,
            "palvo: cannot read the registry file " + folder.string() + ": Is a directory\n");
}

// A transfer broken off by a killed palvo leaves the handset sending; the next
// command brings it back to standby and is served.
TEST_F(EdgesTest, AHandsetStillBusyWithABrokenTransferIsBroughtBack) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(600000));
  StartHandset({"--throttle", "100000"});
  const fs::path part = root / "work" / ".palvo-big.bin.part";
  const pid_t pid = StartPalvo({"get", "big.bin"});
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(part) && fs::file_size(part) > 20000; }));
  ::kill(pid, SIGKILL);
  WaitPalvo(pid);
  const Result r = Palvo({"list", "--tsv"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("big.bin"), std::string::npos);
}

// One language per run: English outside a Japanese locale for the headings,
// the fixed rows' kinds and palvo's own complaints; --tsv keeps the kind word
// where scripts read it.
TEST_F(EdgesTest, OneLanguagePerRun) {
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);
  const struct {
    const char* locale;
    std::string heading, kind, noRow;
  } cases[] = {
      {"LC_ALL=C.UTF-8", "Name", "bookmarks", "palvo: no such row: nosuch.txt\n"},
      {"LC_ALL=ja_JP.UTF-8", "名前", "ブックマーク",
       "palvo: その名前の行はありません: nosuch.txt\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    Result r = Palvo({"list"}, "", {c.locale});
    EXPECT_EQ(r.status, 0);
    const auto lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind(c.heading, 0), 0u) << lines[0];
    EXPECT_NE(lines[1].find(c.kind), std::string::npos) << lines[1];
    r = Palvo({"list", "--tsv"}, "", {c.locale});
    EXPECT_EQ(Lines(r.out).at(0), "5\tbookmark.txt\t\tブックマーク\t");
    r = Palvo({"get", "nosuch.txt"}, "", {c.locale});
    EXPECT_EQ(r.err, c.noRow);
  }
}

// palvo's own complaints speak the run's one language too: in a Japanese
// locale no English sentence of its own is left (the system's reasons stay in
// the system's words), elsewhere they are English as scripts know them; and
// the language never changes the exit status.
TEST_F(EdgesTest, ComplaintsSpeakTheRunsLanguage) {
  StartHandset();
  WriteAll(root / "work" / "plain.txt", "a file");
  WriteAll(root / "work" / "kept", "the person's own");
  WriteAll(root / "work" / "pin", "1234\n");
  fs::permissions(root / "work" / "pin", fs::perms::owner_read | fs::perms::others_read);
  const std::vector<std::vector<std::string>> runs = {
      {},                                           // no command
      {"--bogus"},                                  // unknown option
      {"get", "--to"},                              // an option without its value
      {"get", "--to", "a", "--to", "b", "x"},       // an option twice
      {"list", "extra"},                            // an argument too many
      {"get", "--refetch", "x"},                    // a command's own check
      {"put", "--kind", "photo", "x.txt"},          // an unknown kind
      {"put", "missing.gif"},                       // a missing file
      {"export", "nonexistent", "--to", "out"},     // a missing folder
      {"verify", "plain.txt"},                      // not a folder
      {"get", "memo.txt", "--to", "plain.txt/x/"},  // a folder that cannot be made
      {"list", "--pin-file", "pin"},                // a PIN file others may read
      {"list", "--trace", "kept"},                  // a trace over a file
      {"get", "nosuch.txt"},                        // a row the handset lacks
      {"pin", "--forget"},                          // nothing kept
  };
  static const std::regex sentence("[A-Za-z]+ [A-Za-z]+ [A-Za-z]+"), words("[a-z]+ ['a-z]");
  const std::string systemWords = std::strerror(ENOENT);
  for (const auto& args : runs) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    SCOPED_TRACE(shown);
    const Result japanese = Palvo(args, "1234\n", {"LC_ALL=ja_JP.UTF-8"});
    const Result english = Palvo(args, "1234\n", {"LC_ALL=C.UTF-8"});
    EXPECT_EQ(japanese.status, english.status);
    EXPECT_EQ(Lines(japanese.err).size(), Lines(english.err).size()) << japanese.err << english.err;
    ASSERT_FALSE(japanese.err.empty());
    for (std::string line : Lines(japanese.err)) {
      if (const std::size_t at = line.find(systemWords); at != std::string::npos)
        line.erase(at, systemWords.size());
      EXPECT_TRUE(std::any_of(line.begin(), line.end(), [](char c) { return c & 0x80; })) << line;
      EXPECT_FALSE(std::regex_search(line, sentence)) << line;
    }
    for (const std::string& line : Lines(english.err)) {
      EXPECT_TRUE(std::none_of(line.begin(), line.end(), [](char c) { return c & 0x80; })) << line;
      EXPECT_TRUE(std::regex_search(line, words)) << line;
    }
  }
  EXPECT_EQ(ReadAll(root / "work" / "kept"), "the person's own");
}

// What a backup holds is personal: the folders palvo makes are its owner's
// alone, and so are the files, whatever the umask; export says that a
// missing folder does not exist.
TEST_F(EdgesTest, ABackupIsPrivateAndExportNamesAMissingFolder) {
  StartHandset();
  ASSERT_EQ(Palvo({"list"}).status, 0);  // the PIN is kept from here on
  const Result r = Shell("umask 022; palvo get --all --to new/bk");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Mode(root / "work" / "new"), 0700);
  EXPECT_EQ(Mode(root / "work" / "new" / "bk"), 0700);
  for (const std::string& file : FileNames(root / "work" / "new" / "bk")) {
    SCOPED_TRACE(file);
    EXPECT_EQ(Mode(root / "work" / "new" / "bk" / file), 0600);
  }
  const Result e = Shell("palvo export nonexistent --to x");
  EXPECT_EQ(e.status, 1);
  EXPECT_EQ(e.err, "palvo: nonexistent: No such file or directory\n");
}

}  // namespace

#endif  // _WIN32

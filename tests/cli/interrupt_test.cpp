// Stopping a command part-way: Ctrl-C on a terminal, SIGTERM, SIGHUP. Each
// ends at the next piece or item with goodbye and the port closed, leaves
// nothing half-written and the older files as they were, and the very next
// command succeeds at once.
#ifndef _WIN32

#include <pty.h>
#include <termios.h>

#include "tests/cli/cli_fixture.h"

namespace {

using namespace cli_test;

class InterruptTest : public PalvoTest {
 protected:
  // The next command is served at once: the handset is in standby again.
  void ExpectNextCommandAtOnce() {
    const auto start = std::chrono::steady_clock::now();
    const Result r = Palvo({"list", "--tsv"});
    EXPECT_EQ(r.status, 0) << r.err;
    // Well under the 30 s of silence after which a handset that was left
    // mid-session would take a new one.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
  }

  std::uintmax_t SizeOf(const fs::path& file) {
    std::error_code ec;
    const std::uintmax_t n = fs::file_size(file, ec);
    return ec ? 0 : n;
  }

  // Whether sig waits to be delivered to process pid (its /proc status).
  static bool SignalPending(pid_t pid, int sig) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("SigPnd:", 0) != 0 && line.rfind("ShdPnd:", 0) != 0) continue;
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      if (mask >> (sig - 1) & 1) return true;
    }
    return false;
  }

  // Files named *.part in the work folder.
  int PartFiles() {
    int n = 0;
    for (const std::string& name : FileNames(root / "work"))
      n += name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0;
    return n;
  }
};

// What a stopped get says last: how far it came, and how to finish.
const std::string kRunAgain =
    "palvo: 保存 0 行で中断しました。同じコマンドをもう一度実行すると続きから完了します\n";

TEST_F(InterruptTest, EachSignalStopsALongDownloadAndTheOlderFileStays) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(600000));
  StartHandset({"--throttle", "100000"});
  WriteAll(root / "work" / "big.bin", "older");
  const fs::path part = root / "work" / ".palvo-big.bin.part";
  const struct { int signal, status; } cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal);
    const pid_t pid = StartPalvo({"get", "big.bin", "--to", "big.bin"});
    ASSERT_TRUE(WaitUntil([&] { return SizeOf(part) > 20000; }));
    ::kill(pid, c.signal);
    const Result r = WaitPalvo(pid);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "palvo: 中断しました\n" + kRunAgain);
    EXPECT_EQ(ReadAll(root / "work" / "big.bin"), "older");
    EXPECT_EQ(FileNames(root / "work"), std::vector<std::string>{"big.bin"});
    ExpectNextCommandAtOnce();
  }
  EXPECT_NE(ReadAll(root / "handset.log").find("goodbye"), std::string::npos);
}

TEST_F(InterruptTest, ASignalDuringTheMailDownloadKeepsTheOldMailSet) {
  fs::remove_all(content / "mail");
  fs::remove_all(content / "lightmail");
  for (int i = 0; i < 400; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.txt", i);
    WriteAll(content / "mail" / name, "X-PORIKA-MAIL: from@example.jp,2026/12/08 12:00,subject," +
                                          std::to_string(i) + "\r\n" + std::string(600, 'b') +
                                          "\r\n");
  }
  StartHandset({"--throttle", "100000"});
  WriteAll(root / "work" / "mail000.txt", "old 0");
  WriteAll(root / "work" / "mail001.txt", "old 1");
  const pid_t pid = StartPalvo({"get", "mail???.txt"});
  ASSERT_TRUE(WaitUntil([&] { return PartFiles() >= 5; }));
  ::kill(pid, SIGINT);
  const Result r = WaitPalvo(pid);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err, "palvo: 中断しました\n" + kRunAgain);
  EXPECT_EQ(FileNames(root / "work"), (std::vector<std::string>{"mail000.txt", "mail001.txt"}));
  EXPECT_EQ(ReadAll(root / "work" / "mail000.txt"), "old 0");
  EXPECT_EQ(ReadAll(root / "work" / "mail001.txt"), "old 1");
  ExpectNextCommandAtOnce();
}

// One stop request delivered twice in a burst, as timeout(1) and a process
// group's kill deliver it, is one request: a clean stop.
TEST_F(InterruptTest, TheSameSignalTwiceInABurstStopsCleanly) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(600000));
  StartHandset({"--throttle", "100000"});
  const fs::path part = root / "work" / ".palvo-big.bin.part";
  const pid_t pid = StartPalvo({"get", "big.bin", "--to", "big.bin"});
  ASSERT_TRUE(WaitUntil([&] { return SizeOf(part) > 20000; }));
  ::kill(pid, SIGINT);
  ::kill(pid, SIGINT);
  const Result r = WaitPalvo(pid);
  EXPECT_EQ(r.status, 130);
  EXPECT_EQ(r.err,
            "palvo: 中断しました\npalvo: 保存 0 "
            "行で中断しました。同じコマンドをもう一度実行すると続きから完了します\n");
  EXPECT_EQ(PartFiles(), 0);
  ExpectNextCommandAtOnce();
}

// A second signal a second or more after the first ends the program at once,
// if the first stop has not ended it by then (the handset has fallen silent,
// so the stop waits for a read); either way the older file stays.
TEST_F(InterruptTest, ASecondSignalEndsAtOnce) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(100000));
  StartHandset({"--set", "fault silence req=3/6/2 at=30000"});
  WriteAll(root / "work" / "big.bin", "older");
  const pid_t pid = StartPalvo({"get", "big.bin", "--to", "big.bin"});
  const fs::path part = root / "work" / ".palvo-big.bin.part";
  ASSERT_TRUE(WaitUntil([&] { return SizeOf(part) > 20000; }));
  ::kill(pid, SIGINT);
  // The first must have been taken, and the second must come a second later:
  // two sent together, as timeout(1) does, count as one stop request.
  ASSERT_TRUE(WaitUntil([&] { return !SignalPending(pid, SIGINT); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  ::kill(pid, SIGINT);
  const Result r = WaitPalvo(pid);
  EXPECT_TRUE(r.signal == SIGINT || r.status == 130) << r.signal << " " << r.status;
  EXPECT_EQ(ReadAll(root / "work" / "big.bin"), "older");
}

// On a terminal: Ctrl-C typed while the PIN is asked for, and during a
// download with its progress line. The terminal echoes again, the progress
// line is ended, the status is 130.
TEST_F(InterruptTest, CtrlCOnATerminal) {
  WriteAll(content / "files" / "other" / "big.bin", Pattern(600000));
  StartHandset({"--throttle", "100000"});
  WriteAll(root / "work" / "big.bin", "older");
  const std::string to = (root / "work" / "big.bin").string();
  const fs::path part = root / "work" / ".palvo-big.bin.part";
  for (const bool atThePrompt : {true, false}) {
    SCOPED_TRACE(atThePrompt ? "at the PIN prompt" : "during the download");
    Terminal t({"get", "--to", to, "big.bin"}, {registry}, {});
    ASSERT_TRUE(t.started());
    // The PIN is kept after the first case's next command: no prompt then.
    bool typed = !atThePrompt, stopped = false;
    t.Read(30, 20, [&] {
      if (!stopped && typed && SizeOf(part) > 200000) stopped = t.Type("\x03");
      if (!typed && t.seen.find("暗証番号: ") != std::string::npos)
        stopped = typed = t.Type("\x03");
    });
    const std::string& seen = t.seen;
    termios after;
    const bool echoes = ::tcgetattr(t.master, &after) == 0 && (after.c_lflag & ECHO);
    const int status = WaitChild(t.pid);
    EXPECT_TRUE(stopped) << seen;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << seen;
    EXPECT_NE(seen.find("palvo: 中断しました"), std::string::npos) << seen;
    if (atThePrompt) {
      // No echo there: the message on the next line, no blank one between.
      EXPECT_NE(seen.find("暗証番号: \r\npalvo: 中断しました"), std::string::npos) << seen;
    } else {
      // The terminal's "^C" is not on the message's line.
      const std::size_t echo = seen.rfind("^C", seen.find("palvo: 中断しました"));
      ASSERT_NE(echo, std::string::npos) << seen;
      EXPECT_NE(seen.substr(echo, seen.find("palvo: 中断しました") - echo).find('\n'),
                std::string::npos)
          << seen;
    }
    if (!atThePrompt) {
      // The progress line was shown and kept as it stopped, the "^C" after
      // it on the same line (room was left for it), then one line end.
      const std::size_t last = seen.rfind("K/s");
      ASSERT_NE(last, std::string::npos) << seen;
      const std::size_t end = seen.find('\n', last);
      ASSERT_NE(end, std::string::npos) << seen;
      const std::string tail = seen.substr(last, end - last);
      EXPECT_NE(tail.find("^C"), std::string::npos) << seen;
      EXPECT_EQ(tail.find('\r'), tail.size() - 1) << seen;  // no blanking, no other line
    }
    EXPECT_TRUE(echoes);
    EXPECT_EQ(ReadAll(root / "work" / "big.bin"), "older");
    EXPECT_EQ(FileNames(root / "work"), std::vector<std::string>{"big.bin"});
    ExpectNextCommandAtOnce();
  }
}

}  // namespace

#endif  // _WIN32

// What the handset sends must not reach outside the folder the user chose, and
// the PIN never shows in plain text: not in the registry, not on the terminal,
// not in a log.
#include <algorithm>
#include <cstring>

#include "link/pin_store.h"
#include "tests/faults/fault_fixture.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "tests/support/prerequisite.h"
#include "tests/support/program.h"
#endif

namespace {

// Every file and folder under dir, as paths relative to it.
std::vector<std::string> Tree(const fs::path& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
       it.increment(ec))
    out.push_back(fs::relative(it->path(), dir).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

const char* const kHostileNames[] = {"..\\x", "../x", "a/b", "C:x",          "",
                                     "..",    "\\x",  "/x",  "x\\..\\..\\y", "sub\\x"};

class HostileNameTest : public HandsetFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(HostileNameTest, NeverLeavesTheChosenFolder) {
  const std::string hostile = GetParam();
  handset::Content c;
  c.files.push_back({hostile, "other", "escaped", "2026/12/09 10:00"});  // newest: first
  c.files.push_back({"ok.txt", "other", "fine", "2026/12/01 10:00"});
  H().SetContent(c);
  const fs::path chosen = folder / "chosen";
  fs::create_directory(chosen);
  const fs::path cwd = fs::current_path();
  const auto cwdBefore = Tree(cwd);

  ASSERT_EQ(Shown(GetListingCommand()), Shown(nullptr));
  ASSERT_EQ(RowCount(), 5);
  for (int row = 0; row < RowCount(); ++row) {
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = RowIcon(row) == 4 ? LVIS_SELECTED : 0;
    SendMessageW(g_listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&state));
  }
  WCHAR name[kPathUnits];
  bool several = false;
  ASSERT_TRUE(ProposeDownloadName(name, &several));
  ASSERT_TRUE(several);
  StoreDownloadDestination((ProgramPath(chosen) + L"\\" + name).c_str(), several);
  // Saved all the same, under a name that stays in the folder.
  EXPECT_EQ(Shown(RunDownload()), Shown(nullptr));

  // Nothing beside the chosen folder, nothing but the two plain files in it.
  const auto tree = Tree(folder);
  EXPECT_EQ(tree.size(), 3u) << testing::PrintToString(tree);
  for (const std::string& entry : tree) {
    const bool plainFileInside = entry.rfind("chosen/", 0) == 0 &&
                                 entry.find('/', 7) == std::string::npos &&
                                 fs::is_regular_file(folder / entry);
    EXPECT_TRUE(entry == "chosen" || plainFileInside) << "written: " << entry;
  }
  EXPECT_EQ(Tree(cwd), cwdBefore) << "something was written into the working folder";
  EXPECT_FALSE(fs::exists(folder.parent_path() / "x"));
  EXPECT_FALSE(fs::exists(fs::path("/x")));

  // The next connection works as ever.
  EXPECT_EQ(Shown(GetListingCommand()), Shown(nullptr));
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameTest, ::testing::ValuesIn(kHostileNames),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return "Name" + std::to_string(info.index);
                         });

constexpr DWORD kSecretPin = 7391;
const char kSecretText[] = "7391";

// Forms in which a stored number could be read back as plain text. A driver
// entry's owner (pid, start time, boot id) is numbers of its own and may
// hold the same digits by chance: its lines do not count.
bool ShowsPin(std::string bytes) {
  for (std::size_t at; (at = bytes.find("\"Owner\"=")) != std::string::npos;)
    bytes.erase(at, bytes.find('\n', at) - at);
  static const std::string forms[] = {
      kSecretText,
      "00001ce3",
      "00001CE3",
      "1ce3",
      "1CE3",
      std::string("7\0"
                  "3\0"
                  "9\0"
                  "1\0",
                  8),                      // UTF-16
      std::string("\xE3\x1C\x00\x00", 4),  // the number itself, as stored
  };
  for (const std::string& f : forms)
    if (bytes.find(f) != std::string::npos) return true;
  return false;
}

class PinSecrecyTest : public HandsetFixture {
 protected:
  void SetUp() override {
    HandsetFixture::SetUp();
    H().SetPin(kSecretText);
    RegisterHandset(*hs, /*storePin=*/false);
    g_testFrontend.pinToEnter = kSecretPin;
  }
};

TEST_F(PinSecrecyTest, TheStoredPinIsScrambledAndTheHandsetLogShowsNoPin) {
  std::vector<std::string> trace;
  std::mutex traceMu;
  H().SetTrace([&](const std::string& line) {
    std::lock_guard<std::mutex> lock(traceMu);
    trace.push_back(line);
  });
  ASSERT_EQ(Shown(GetListingCommand()), Shown(nullptr));
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  ASSERT_TRUE(H().WaitForRequest(255, 1, 2, 1, 5000));

  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestDriverKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  BYTE value[64] = {};
  DWORD type = 0, bytes = sizeof value;
  ASSERT_EQ(RegQueryValueExW(key, L"PalvoPass", nullptr, &type, value, &bytes), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_FALSE(ShowsPin(std::string(reinterpret_cast<char*>(value), bytes)));
#ifndef _WIN32
  const char* file = std::getenv("PALVO_REGISTRY");
  ASSERT_NE(file, nullptr);
  const std::string text = ReadAll(file);
  ASSERT_NE(text.find("PalvoPass"), std::string::npos);
  EXPECT_FALSE(ShowsPin(text)) << text;
#endif
  // The second connection reads it back: the scrambling is undone inside.
  g_testFrontend.Reset();
  ASSERT_EQ(Shown(GetListingCommand()), Shown(nullptr));
  EXPECT_EQ(g_testFrontend.askPinCalls, 0);
  ASSERT_TRUE(H().WaitForRequest(255, 1, 2, 2, 5000));

  // palvo-handset --log writes these lines.
  std::lock_guard<std::mutex> lock(traceMu);
  for (const std::string& line : trace)
    EXPECT_EQ(line.find(kSecretText), std::string::npos) << line;
}

#ifndef _WIN32
// Runs palvo on this process's registry (the in-process handset registered in
// it) with stdin as the PIN entry.
test_program::Result RunPalvo(const fs::path& scratch, const std::vector<std::string>& args,
                              const std::string& input) {
  return test_program::RunProgram(fs::path(PALVO_BUILD_DIR) / "palvo", args, {}, fs::current_path(),
                                  input, scratch);
}

TEST_F(PinSecrecyTest, ThePalvoCommandNeverPrintsThePin) {
  if (!fs::exists(fs::path(PALVO_BUILD_DIR) / "palvo"))
    MISSING_PREREQUISITE() << "palvo is not built";
  const fs::path scratch = folder / "scratch";
  fs::create_directory(scratch);
  WriteAll(folder / "up.txt", "up");
  const std::string dir = (folder / "backup").string();
  fs::create_directory(dir);
  const std::vector<std::vector<std::string>> commands = {
      {"list"},
      {"list", "--tsv"},
      {"get", "--all", "--to", dir + "/"},
      {"put", (folder / "up.txt").string()},
  };
  for (const auto& args : commands) {
    // Each with the PIN typed afresh: no stored PIN.
    DeleteStoredPin();
    const auto r = RunPalvo(scratch, args, std::string(kSecretText) + "\n");
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    EXPECT_EQ(r.out.find(kSecretText), std::string::npos) << args[0] << ": " << r.out;
    EXPECT_EQ(r.err.find(kSecretText), std::string::npos) << args[0] << ": " << r.err;
  }
  // A wrong PIN is not repeated back either.
  DeleteStoredPin();
  const auto wrong = RunPalvo(scratch, {"list"}, "7390\n");
  EXPECT_NE(wrong.status, 0);
  EXPECT_EQ((wrong.out + wrong.err).find("7390"), std::string::npos) << wrong.err;
  const std::string registry = ReadAll(std::getenv("PALVO_REGISTRY"));
  EXPECT_FALSE(ShowsPin(registry)) << registry;
}

// On a terminal the PIN is typed the moment its prompt shows: by then echo is
// off, so it never appears, and nothing typed is thrown away.
TEST_F(PinSecrecyTest, OnATerminalThePromptComesOnlyOnceEchoIsOff) {
  const fs::path program = fs::path(PALVO_BUILD_DIR) / "palvo";
  if (!fs::exists(program)) MISSING_PREREQUISITE() << "palvo is not built";
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);  // the system's texts alone
    ::execl(program.c_str(), program.c_str(), "list", nullptr);
    ::_exit(127);
  }
  std::string seen;
  bool typed = false, echoOff = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p = {master, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char buf[4096];
    const ssize_t n = ::read(master, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
    if (!typed &&
        seen.find("\xE6\x9A\x97\xE8\xA8\xBC\xE7\x95\xAA\xE5\x8F\xB7: ") != std::string::npos) {
      termios t = {};
      ASSERT_EQ(::tcgetattr(master, &t), 0);  // the terminal's settings as palvo left them
      echoOff = (t.c_lflag & ECHO) == 0;
      ASSERT_EQ(::write(master, "7391\n", 5), 5);
      typed = true;
    }
  }
  int status = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (::waitpid(pid, &status, WNOHANG) != pid && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    ADD_FAILURE() << "palvo still waits for its PIN";
  }
  ::close(master);
  EXPECT_TRUE(typed) << seen;
  EXPECT_TRUE(echoOff) << "the prompt showed while the terminal still echoed";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
  EXPECT_EQ(seen.find(kSecretText), std::string::npos) << seen;
}

// The full backup writes every handset name into the folder given: hostile
// names stay out of everything around it.
TEST_F(HandsetFixture, ABackupWithHostileNamesStaysInItsFolder) {
  if (!fs::exists(fs::path(PALVO_BUILD_DIR) / "palvo"))
    MISSING_PREREQUISITE() << "palvo is not built";
  handset::Content c = Content();
  for (const char* name : kHostileNames)
    c.files.push_back({name, "other", "escaped", "2026/12/09 10:00"});
  H().SetContent(c);
  const fs::path scratch = folder / "scratch";
  fs::create_directory(scratch);
  const fs::path dir = folder / "backup";
  fs::create_directory(dir);
  const auto r = RunPalvo(scratch, {"get", "--all", "--to", dir.string() + "/"}, "1234\n");
  EXPECT_EQ(r.status, 0);  // the hostile rows are saved under other names
  for (const std::string& entry : Tree(folder)) {
    const bool inside =
        entry == "backup" || entry.rfind("backup/", 0) == 0 || entry.rfind("scratch", 0) == 0;
    EXPECT_TRUE(inside) << "written outside: " << entry;
    if (entry.rfind("backup/", 0) == 0) {
      EXPECT_EQ(entry.find('/', 7), std::string::npos) << "a folder made inside: " << entry;
    }
  }
}
#endif

}  // namespace

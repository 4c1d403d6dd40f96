// What the command line tests share: the built palvo run against
// palvo-handset on a pseudo-terminal, each test with a registry and folders
// of its own.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "tests/support/program.h"

namespace fs = std::filesystem;

namespace cli_test {

// palvo's output made comparable across two runs of one session: the time a
// get took always differs (in either language); and where the link vanished, a replay, which hangs
// up after the last recorded bytes, may see it one read later than the live
// run did, so which part of a frame the link error names may differ too.
inline std::string ComparableOutput(const std::string& text, bool vanished) {
  static const std::regex took(" bytes in [0-9]+\\.[0-9] s"), took2(" バイト、[0-9]+\\.[0-9] 秒"),
      step("通信エラー\\([^)]*\\)");
  std::string out =
      std::regex_replace(std::regex_replace(text, took, " bytes in T s"), took2, " バイト、T 秒");
  return vanished ? std::regex_replace(out, step, "通信エラー(…)") : out;
}

inline const fs::path kBuild = PALVO_BUILD_DIR;
inline const WCHAR kDriverKey[] = L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB";
inline const fs::path kSource = PALVO_SOURCE_DIR;

// Shift-JIS bytes of "写真.jpg" and its UTF-8 form.
inline const std::string kPhotoSjis = "\x8E\xCA\x90\x5E.jpg";
inline const std::string kPhotoUtf8 = "写真.jpg";

inline std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << bytes;
}

inline std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + i / 7) & 0xFF);
  return s;
}

// File contents compared without printing them: they may be binary.
#define EXPECT_SAME_BYTES(a, b) EXPECT_TRUE((a) == (b)) << #a " differs from " #b

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

using test_program::Result;
using test_program::RunProgram;
using test_program::StartProgram;
using test_program::WaitProgram;

// palvo on a pseudo-terminal of its own, columns wide, in the Japanese locale
// with the given environment, in the folder cwd: seen is all the screen got.
struct Terminal {
  pid_t pid = -1;
  int master = -1;
  std::string seen;

  Terminal(const std::vector<std::string>& args, const std::vector<std::string>& env,
           const fs::path& cwd, int columns = 80) {
    const std::string program = (kBuild / "palvo").string();
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    pid = ::forkpty(&master, nullptr, nullptr, &size);
    if (pid == 0) {
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      ::setenv("LC_ALL", "ja_JP.UTF-8", 1);  // the system's texts alone
      if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
      std::vector<char*> argv = {const_cast<char*>(program.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
  }
  ~Terminal() {
    if (master >= 0) ::close(master);
  }
  bool started() const { return pid > 0; }
  bool Type(const std::string& keys) {
    return ::write(master, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
  }
  // Reads the screen for up to seconds, waiting at most pollMs at a time;
  // step (when given) runs after every wait and may type. Ends early when
  // the program closed the terminal.
  void Read(int seconds, int pollMs, const std::function<void()>& step = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p = {master, POLLIN, 0};
      if (::poll(&p, 1, pollMs) > 0) {
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        seen.append(buf, static_cast<std::size_t>(n));
      }
      if (step) step();
    }
  }
};

// The wait status of a child, killed (and the test failed) when it does not
// end within timeoutSeconds.
inline int WaitChild(pid_t pid, int timeoutSeconds = 20) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (::waitpid(pid, &status, WNOHANG) != pid) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "the program did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return status;
}

// Polls until pred holds; false after timeoutMs.
template <typename Pred>
bool WaitUntil(Pred pred, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

// Columns of UTF-8 text on a terminal, for the texts these tests show: from
// U+3000 on two, below one ("…" one).
inline int Columns(const std::string& text) {
  int columns = 0;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    unsigned cp = n == 1 ? c : c & (0x3F >> (n - 1));
    for (std::size_t k = 1; k < n && i + k < text.size(); ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    columns += cp >= 0x3000 ? 2 : 1;
    i += n;
  }
  return columns;
}

// The names of a folder's files in order (part files of a download too).
inline std::vector<std::string> FileNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class PalvoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    root = fs::temp_directory_path() /
           ("palvo-cli-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    fs::remove_all(root);
    fs::create_directories(root / "work");
    fs::create_directories(root / "scratch");
    registry = "PALVO_REGISTRY=" + (root / "registry.reg").string();
    // The handset driver's own key, as the handheld's device manager keeps
    // it: the stored PIN lives there.
    ::setenv("PALVO_REGISTRY", (root / "registry.reg").c_str(), 1);
    HKEY key;
    DWORD disposition;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, &disposition),
              ERROR_SUCCESS);
    RegCloseKey(key);

    // The shipped sample plus files of our own with fixed dates.
    content = root / "content";
    fs::copy(kSource / "handset" / "sample", content, fs::copy_options::recursive);
    photo = Pattern(20000);
    WriteAll(content / "files" / "image" / kPhotoSjis, photo);
    WriteAll(content / "files" / "music" / "tone.mid", "MThd-tone");
    std::ofstream dates(content / "dates.txt", std::ios::app | std::ios::binary);
    dates << "image/" << kPhotoSjis << "\t2010/10/10 10:10\n";
    dates << "music/tone.mid\t2009/09/09 09:09\n";
  }

  void TearDown() override {
    StopHandset();
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  // Starts palvo-handset and waits for its ready line (the pty path).
  void StartHandset(const std::vector<std::string>& extra = {}) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    std::vector<std::string> args = {(kBuild / "palvo-handset").string(), "--content",
                                     content.string(), "--log", (root / "handset.log").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    handset = ::fork();
    if (handset == 0) {
      ::putenv(const_cast<char*>(registry.c_str()));
      ::dup2(pipeFds[1], 1);
      ::close(pipeFds[0]);
      const int err = ::open((root / "handset.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(err, 2);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string line;
    char c;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(pipeFds[0]);
    ASSERT_FALSE(line.empty()) << ReadAll(root / "handset.err");
    handsetPort = line;
  }

  void StopHandset() {
    if (handset <= 0) return;
    ::kill(handset, SIGTERM);
    int status;
    ::waitpid(handset, &status, 0);
    handset = -1;
  }

  // palvo in a Japanese locale (the system's texts alone) unless env says
  // otherwise; env's settings come after the test's own.
  Result Palvo(const std::vector<std::string>& args, const std::string& input = "1234\n",
               const std::vector<std::string>& env = {}) {
    return RunProgram(kBuild / "palvo", args, Environment(env), root / "work", input,
                      root / "scratch");
  }
  // The same, started: the test acts while it runs, then waits for it.
  pid_t StartPalvo(const std::vector<std::string>& args, const std::string& input = "1234\n",
                   const std::vector<std::string>& env = {}) {
    return StartProgram(kBuild / "palvo", args, Environment(env), root / "work", input,
                        root / "scratch");
  }
  std::vector<std::string> Environment(const std::vector<std::string>& env) const {
    std::vector<std::string> all = {registry, "LC_ALL=ja_JP.UTF-8"};
    all.insert(all.end(), env.begin(), env.end());
    return all;
  }
  Result WaitPalvo(pid_t pid) { return WaitProgram(pid, root / "scratch"); }

  // A run through bash in the C locale, for what the fixture cannot set up:
  // a closed or full standard output, a pipe. "palvo" in script is the built
  // one.
  Result Shell(const std::string& script) {
    const std::string palvo = (kBuild / "palvo").string();
    std::string s = script;
    for (std::size_t at = s.find("palvo"); at != std::string::npos; at = s.find("palvo", at + 1)) {
      s.replace(at, 5, palvo);
      at += palvo.size() - 1;
    }
    return RunProgram("/bin/bash", {"-c", s}, Environment({"LC_ALL=C"}), root / "work", "",
                      root / "scratch");
  }

  fs::path root, content;
  std::string registry, photo;
  std::string handsetPort;  // the pty palvo-handset serves on
  pid_t handset = -1;
};

}  // namespace cli_test

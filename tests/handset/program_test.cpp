// palvo-handset as a program: pty, registry entry, content folder, control
// options, clean stop on SIGTERM. Native only (it is a Linux program).
#ifndef _WIN32
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/login.h"
#include "link/port.h"
#include "tests/handset/raw_client.h"
#include "tests/support/test_frontend.h"

namespace fs = std::filesystem;

namespace {

const char kProgram[] = PALVO_BUILD_DIR "/palvo-handset";

class Program {
 public:
  explicit Program(std::vector<std::string> args, bool withStderr = false) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      if (withStderr) ::dup2(out[1], 2);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv = {const_cast<char*>(kProgram)};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(kProgram, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = ::fdopen(out[0], "r");
  }
  ~Program() {
    if (pid_ > 0) Stop();
    if (out_) std::fclose(out_);
  }
  std::string FirstLine() {
    char line[512] = {};
    if (!out_ || !std::fgets(line, sizeof line, out_)) return "";
    std::string s = line;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  std::string Rest() {
    std::string s;
    for (int c; out_ && (c = std::fgetc(out_)) != EOF;) s.push_back(static_cast<char>(c));
    return s;
  }
  int Stop(int sig = SIGTERM) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, sig);
    return Wait();
  }
  int Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
};

class HandsetProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("palvo-handset-program-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    registry_ = (dir_ / "registry.reg").string();
    ::setenv("PALVO_REGISTRY", registry_.c_str(), 1);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The port name registered under Drivers\Active\<sub>, or "" when none.
  static std::wstring Registered(const WCHAR* sub) {
    std::wstring path = std::wstring(L"Drivers\\Active\\") + sub;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return L"";
    WCHAR buf[260] = {};
    DWORD size = sizeof buf, type = 0;
    WCHAR driver[260] = {};
    DWORD dsize = sizeof driver;
    RegQueryValueExW(key, L"Key", nullptr, &type, reinterpret_cast<BYTE*>(driver), &dsize);
    LSTATUS s = RegQueryValueExW(key, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
    RegCloseKey(key);
    if (std::wstring(driver) != L"Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB")
      return L"?";
    return s == ERROR_SUCCESS ? std::wstring(buf) : L"";
  }
  static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

  fs::path dir_;
  std::string registry_;
};

TEST_F(HandsetProgram, RegistersServesAndUnregisters) {
  Program a({"--registry", registry_, "--log", (dir_ / "log").string()});
  std::string pty = a.FirstLine();
  ASSERT_EQ(pty.rfind("/dev/", 0), 0u) << pty;
  EXPECT_EQ(Registered(L"01"), Wide(pty));
  // A second instance takes the next free number.
  Program b({"--registry", registry_, "--pin", "0000"});
  std::string pty2 = b.FirstLine();
  EXPECT_EQ(Registered(L"02"), Wide(pty2));

  // Two connections one after the other, the port closed in between.
  for (int round = 0; round < 2; ++round) {
    RawClient client(Wide(pty).c_str());
    ASSERT_TRUE(client.ok());
    client.LogIn();
    EXPECT_EQ(client.Ask(2, 8, 1), "3");  // the shipped sample's bookmarks
    client.Send(3, 6, 2, "chime.mid\tmusic\t");
    RawClient::Response r = client.Receive();
    EXPECT_EQ(r.payload.substr(0, 16), "chime.mid\tmusic\t");
    EXPECT_EQ(r.payload.substr(16, 4), "MThd");
    client.Send(255, 1, 2);
  }
  EXPECT_EQ(b.Stop(), 0);
  EXPECT_EQ(Registered(L"02"), L"");
  EXPECT_EQ(a.Stop(SIGINT), 0);
  EXPECT_EQ(Registered(L"01"), L"");
  std::ifstream log(dir_ / "log");
  std::string all((std::istreambuf_iterator<char>(log)), {});
  EXPECT_NE(all.find("request 255/1/2"), std::string::npos);
  EXPECT_EQ(all.find("VIOLATION"), std::string::npos);
}

TEST_F(HandsetProgram, ContentFolderKeepsUploads) {
  fs::path content = dir_ / "content";
  fs::create_directories(content / "files" / "image");
  std::ofstream(content / "files" / "image" / "a.jpg", std::ios::binary) << "JPG";
  Program p({"--registry", registry_, "--no-register", "--content", content.string()});
  std::string pty = p.FirstLine();
  EXPECT_EQ(Registered(L"01"), L"");
  {
    RawClient client(Wide(pty).c_str());
    client.LogIn();
    EXPECT_EQ(client.Ask(2, 6, 1), "1");
    EXPECT_EQ(client.Ask(3, 6, 3, "b.mid\tmusic\tMIDI"), "0");
    EXPECT_EQ(client.Ask(3, 5, 3, "\x1C"), "1");  // not a mail record
    client.Send(255, 1, 2);
  }
  EXPECT_EQ(p.Stop(), 0);
  std::ifstream in(content / "files" / "music" / "b.mid", std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(data, "MIDI");
}

// Large file uploads go to the folder as they arrive; one cut short leaves
// nothing behind, and what was stored lists and downloads whole.
TEST_F(HandsetProgram, LargeUploadsStreamToTheFolder) {
  fs::path content = dir_ / "content";
  fs::create_directories(content);
  Program p({"--registry", registry_, "--no-register", "--content", content.string()});
  std::string pty = p.FirstLine();
  std::string data(3u << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + (i >> 12));
  const std::string head = "big.bin\tother\t";
  {
    RawClient client(Wide(pty).c_str());
    client.LogIn();
    EXPECT_EQ(client.Ask(3, 6, 3, head + data), "0");
    client.SendRaw(RawClient::Request(3, 6, 3, head + std::string(200000, 'x'),
                                      static_cast<long long>(4 + head.size() + data.size())));
  }
  // The handset gives up on the silent request after its stall limit.
  for (int i = 0; i < 150 && fs::exists(content / ".upload.part"); ++i) ::usleep(100000);
  EXPECT_FALSE(fs::exists(content / ".upload.part"));
  {
    RawClient client(Wide(pty).c_str());
    client.LogIn();
    EXPECT_EQ(client.Ask(2, 6, 1), "1");
    client.Send(3, 6, 7);
    EXPECT_EQ(client.Receive().payload.rfind(head + "3145728\t", 0), 0u);
    client.Send(16, 9, 16, "0");
    EXPECT_EQ(client.Ask(3, 6, 2, head), head + data);
    client.Send(255, 1, 2);
  }
  EXPECT_EQ(p.Stop(), 0);
  std::ifstream in(content / "files" / "other" / "big.bin", std::ios::binary);
  EXPECT_TRUE(std::string((std::istreambuf_iterator<char>(in)), {}) == data);
}

TEST_F(HandsetProgram, ControlOptionsAndScript) {
  std::ofstream(dir_ / "script") << "# refuse the first hello, then a count text\n"
                                    "reply 0/1/1 OK\\r\\n times=1\n"
                                    "reply 2/6/1 abc\n";
  Program p({"--registry", registry_, "--no-register", "--script", (dir_ / "script").string(),
             "--fault", "noise", "--set", "pin 4321"});
  std::string pty = p.FirstLine();
  RawClient client(Wide(pty).c_str());
  EXPECT_EQ(client.Ask(0, 1, 1, "1"), "OK\r\n");
  client.LogIn("4321");
  std::size_t skipped = 0;
  client.Send(2, 6, 1);
  RawClient::Response r = client.Receive(3000, &skipped);
  EXPECT_EQ(r.payload, "abc");
  EXPECT_EQ(skipped, 6u);
  EXPECT_EQ(p.Stop(), 0);

  Program bad({"--registry", registry_, "--set", "fault explode"});
  EXPECT_EQ(bad.Wait(), 2);
  Program help({"--help"});
  std::string text = help.Rest();
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(text.find("--fault NAME"), std::string::npos);
  EXPECT_NE(text.find("fault ACTION"), std::string::npos);
}

TEST_F(HandsetProgram, ABadOptionIsOneLineAndStatusTwo) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--throttle", "abc"},
       "palvo-handset: --throttle takes a whole number of 0 or more, not 'abc'"},
      {{"--throttle", "-1"}, "--throttle takes a whole number"},
      {{"--idle-reset", "0"}, "--idle-reset takes a whole number of 1 or more"},
      {{"--seed", "12x"}, "--seed takes a whole number"},
      {{"--pin", "123"}, "--pin takes four digits"},
      {{"--pin"}, "--pin needs a value"},
      {{"--frobnicate"}, "unknown option --frobnicate"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--registry", registry_, "--no-register"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Program p(args, true);
    const std::string text = p.Rest();
    EXPECT_EQ(p.Wait(), 2) << c.args.front();
    EXPECT_NE(text.find(c.says), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  }
}

TEST_F(HandsetProgram, VanishingPortUnplugsTheHandset) {
  Program p({"--registry", registry_, "--fault", "vanish-download"});
  std::string pty = p.FirstLine();
  EXPECT_EQ(Registered(L"01"), Wide(pty));
  RawClient client(Wide(pty).c_str());
  client.LogIn();
  client.Send(3, 6, 2, "chime.mid\tmusic\t");
  EXPECT_LE(client.Drain(500).size(), 20u);  // a hang-up may drop what was unread
  EXPECT_EQ(p.Wait(), 0);                    // gone by itself, like a handset pulled out
  EXPECT_EQ(Registered(L"01"), L"");
}

TEST_F(HandsetProgram, AKilledHandsetsTerminalIsNeverOpened) {
  std::string dead;
  {
    Program a({"--registry", registry_});
    dead = a.FirstLine();
    EXPECT_EQ(Registered(L"01"), Wide(dead));
    a.Stop(SIGKILL);  // no chance to unregister
  }
  // Another program's terminal, most likely under the dead one's number.
  const int other = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::grantpt(other), 0);
  ASSERT_EQ(::unlockpt(other), 0);
  const int otherSlave = ::open(::ptsname(other), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(otherSlave, 0);
  std::printf("dead handset's terminal %s, the other program's %s\n", dead.c_str(),
              ::ptsname(other));
  EXPECT_EQ(Registered(L"01"), L"");

  Program b({"--registry", registry_});
  const std::string live = b.FirstLine();
  InitProcessState();
  g_testFrontend.Reset();
  g_testFrontend.pinToEnter = 1234;
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_EQ(std::wstring(g_portName), Wide(live));
  EXPECT_EQ(LogIn(), nullptr);
  SendGoodbye();
  ClosePort();
  struct pollfd p = {other, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 200), 0) << "the other terminal got bytes";
  ::close(otherSlave);
  ::close(other);
}

}  // namespace
#endif

// The serial port over a pseudo-terminal: the core's time-outs, exclusive
// opening, purge and hang-up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/win32.h"
#include "tests/support/peer.h"

namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A time-out no loaded machine comes near: a call that ends well before it
// ended on its event.
constexpr DWORD kLongMs = 20000;

HANDLE OpenExclusive(const WCHAR* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.ok());
    port = OpenExclusive(peer.PortName());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
  }
  // Reads return what is there at once, else wait up to ms for the first byte.
  void SetFirstByteTimeOut(DWORD ms) {
    COMMTIMEOUTS t = {};
    ASSERT_TRUE(GetCommTimeouts(port, &t));
    t.ReadTotalTimeoutConstant = ms;
    ASSERT_TRUE(SetCommTimeouts(port, &t));
  }
  PeerPort peer;
  HANDLE port = INVALID_HANDLE_VALUE;
};

TEST_F(SerialTest, ReadReturnsWaitingBytesAtOnceElseWaitsASecondForTheFirst) {
  // Default time-outs are the core's, before any SetCommTimeouts.
  COMMTIMEOUTS t = {};
  ASSERT_TRUE(GetCommTimeouts(port, &t));
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);

  // The first read waits for the bytes to come; the second takes what is
  // left. A read that waited for more would run into the long time-out.
  ASSERT_TRUE(peer.Write("abcde", 5));
  char buf[16];
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(port, buf, 3, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "abc");  // no more than asked
  SetFirstByteTimeOut(kLongMs);
  long long start = NowMs();
  ASSERT_TRUE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "de");  // what is there, without waiting for more
  EXPECT_LT(NowMs() - start, kLongMs / 2);

  SetFirstByteTimeOut(1000);
  start = NowMs();
  ASSERT_TRUE(ReadFile(port, buf, sizeof buf, &n, nullptr));  // silence: success, nothing
  const long long waited = NowMs() - start;
  EXPECT_EQ(n, 0u);
  EXPECT_GE(waited, 950);
  EXPECT_LT(waited, kLongMs / 2);  // a safety net: it ends

  // A byte that comes during the wait ends it.
  SetFirstByteTimeOut(kLongMs);
  std::thread late([&] {
    Sleep(300);
    peer.Write("z", 1);
  });
  start = NowMs();
  ASSERT_TRUE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  late.join();
  EXPECT_EQ(std::string(buf, n), "z");
  EXPECT_GE(NowMs() - start, 250);
  EXPECT_LT(NowMs() - start, kLongMs / 2);  // the byte ended it, not the time-out
}

TEST_F(SerialTest, RawBytesBothWaysAndPurgeDropsOldInput) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(port, all.data(), 256, &n, nullptr));
  EXPECT_EQ(n, 256u);
  char got[256];
  ASSERT_TRUE(peer.ReadExact(got, 256, 2000));
  EXPECT_EQ(std::string(got, 256), all);  // no CR/LF translation, no 8th bit stripped

  ASSERT_TRUE(peer.Write("stale", 5));
  Sleep(50);
  EXPECT_TRUE(EscapeCommFunction(port, SETIR));
  EXPECT_TRUE(PurgeComm(port, PURGE_RXCLEAR));
  ASSERT_TRUE(peer.Write(all.data() + 200, 56));
  std::string read;
  char buf[64];
  while (read.size() < 56 && ReadFile(port, buf, sizeof buf, &n, nullptr) && n > 0)
    read.append(buf, n);
  EXPECT_EQ(read, all.substr(200));
}

TEST_F(SerialTest, ShareModeZeroKeepsASecondOpenOut) {
  EXPECT_EQ(OpenExclusive(peer.PortName()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(CloseHandle(port));
  port = OpenExclusive(peer.PortName());  // free again once closed
  EXPECT_NE(port, INVALID_HANDLE_VALUE);
}

TEST_F(SerialTest, WriteGivesUpAfterItsTimeOutWhenNobodyReads) {
  static char block[1 << 20];
  DWORD n = 0;
  const long long start = NowMs();
  ASSERT_TRUE(WriteFile(port, block, sizeof block, &n, nullptr));
  const long long took = NowMs() - start;
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, sizeof block);  // short: the far end stopped taking bytes
  EXPECT_GE(took, 950);
  EXPECT_LT(took, static_cast<long long>(kLongMs));  // a safety net: it ends
}

TEST(SerialHangUpTest, AVanishedDeviceFailsReadAndWrite) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  WCHAR name[64];
  std::mbstowcs(name, ::ptsname(master), 63);
  HANDLE port = OpenExclusive(name);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, kLongMs, 0, 1000};
  ASSERT_TRUE(SetCommTimeouts(port, &t));
  ::close(master);
  char buf[8];
  DWORD n = 99;
  const long long start = NowMs();
  EXPECT_FALSE(ReadFile(port, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_LT(NowMs() - start, kLongMs / 2);  // no time-out wait on a dead device
  EXPECT_FALSE(WriteFile(port, "x", 1, &n, nullptr));
  EXPECT_TRUE(CloseHandle(port));
}

TEST(SerialSettingsTest, APortOpenedByMistakeGetsItsSettingsBack) {
  // Somebody's terminal: cooked, echoing, hanging up on its last close.
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int owner = ::open(::ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(owner, 0);
  struct termios before;
  ASSERT_EQ(::tcgetattr(owner, &before), 0);
  before.c_cc[VMIN] = 4;  // something no raw setting would pick
  before.c_cflag |= HUPCL;
  ASSERT_EQ(::tcsetattr(owner, TCSANOW, &before), 0);
  ASSERT_EQ(::tcgetattr(owner, &before), 0);
  ASSERT_TRUE(before.c_lflag & ECHO);

  WCHAR name[64];
  std::mbstowcs(name, ::ptsname(master), 63);
  HANDLE port = OpenExclusive(name);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  struct termios open;
  ASSERT_EQ(::tcgetattr(owner, &open), 0);
  EXPECT_FALSE(open.c_lflag & (ECHO | ICANON));
  EXPECT_FALSE(open.c_cflag & HUPCL);
  DWORD n = 0;
  EXPECT_TRUE(WriteFile(port, "\xE1\x01", 2, &n, nullptr));  // what the hello would start with
  EXPECT_TRUE(CloseHandle(port));

  struct termios after;
  ASSERT_EQ(::tcgetattr(owner, &after), 0);
  // All of it as it was, but HUPCL: the close must not hang up the line.
  EXPECT_FALSE(after.c_cflag & HUPCL);
  after.c_cflag |= HUPCL;
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(after.c_cc), NCCS),
            std::string(reinterpret_cast<char*>(before.c_cc), NCCS));
  // And it echoes again.
  ::tcflush(master, TCIOFLUSH);
  ASSERT_EQ(::write(master, "e", 1), 1);
  struct pollfd p = {master, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  char echoed = 0;
  EXPECT_EQ(::read(master, &echoed, 1), 1);
  EXPECT_EQ(echoed, 'e');
  ::close(owner);
  ::close(master);
}

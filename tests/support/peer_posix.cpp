// Native far end: a fresh pseudo-terminal pair per PeerPort.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "tests/support/peer.h"

PeerPort::PeerPort() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
  const char* slave = ::ptsname(master_);
  if (!slave) return;
  struct termios t;
  if (::tcgetattr(master_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
  }
  keepSlave_ = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keepSlave_ >= 0 && ::tcgetattr(keepSlave_, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(keepSlave_, TCSANOW, &t);
  }
  std::mbstowcs(portName_, slave, MAX_PATH - 1);
}

PeerPort::~PeerPort() {
  if (keepSlave_ >= 0) ::close(keepSlave_);
  if (master_ >= 0) ::close(master_);
}

bool PeerPort::ok() const { return master_ >= 0 && keepSlave_ >= 0; }

bool PeerPort::Write(const void* data, std::size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::write(master_, p, n);
    if (w < 0) {
      if (errno == EINTR || errno == EAGAIN) {
        struct pollfd pfd = {master_, POLLOUT, 0};
        ::poll(&pfd, 1, 100);
        continue;
      }
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

std::size_t PeerPort::Read(void* data, std::size_t max, int timeoutMs) {
  struct pollfd pfd = {master_, POLLIN, 0};
  if (::poll(&pfd, 1, timeoutMs) <= 0 || !(pfd.revents & POLLIN)) return 0;
  ssize_t r = ::read(master_, data, max);
  return r > 0 ? static_cast<std::size_t>(r) : 0;
}

bool PeerPort::ReadExact(void* data, std::size_t n, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  char* p = static_cast<char*>(data);
  while (n > 0) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) return false;
    std::size_t r = Read(p, n, left);
    p += r;
    n -= r;
  }
  return true;
}

void PeerPort::Purge() { ::tcflush(master_, TCIFLUSH); }

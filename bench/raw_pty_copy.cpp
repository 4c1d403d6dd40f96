// The ceiling for a transfer: the same bytes copied from a file to a file
// through a pseudo-terminal pair, in 4096-byte pieces, with nothing on top (no
// frames, no requests). Writer and reader are two processes, as palvo-handset
// and palvo are, and each side works as its counterpart does: the handset
// writes a file it holds in memory in one call (throttled in slices of
// rate/50 like it) and stores what it receives in 4096-byte reads; palvo
// writes a file in 4096-byte pieces read from disk and reads in 4096-byte
// pieces into a file (raw mode on the slave).
//
//   raw_pty_copy SOURCE DEST [down|up] [--throttle BYTES_PER_SEC]
//
// down: master writes, slave reads (a download); up: the reverse (an upload).
// A rate paces the handset's side: its writes down, its reads up.
// Prints the seconds the copy took.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kPiece = 4096;

void MakeRaw(int fd) {
  struct termios t;
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(fd, TCSANOW, &t);
}

bool WriteAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno != EAGAIN && errno != EINTR) return false;
    struct pollfd q = {fd, POLLOUT, 0};
    ::poll(&q, 1, 100);
  }
  return true;
}

// The handset's side writing: the whole file from memory, in one call, or in
// slices of rate/50 bytes with a sleep until each slice is due.
bool SendHeld(const std::string& data, int port, long rate) {
  if (rate <= 0) return WriteAll(port, data.data(), data.size());
  const std::size_t slice = static_cast<std::size_t>(std::max(1L, rate / 50));
  const Clock::time_point start = Clock::now();
  for (std::size_t pos = 0; pos < data.size();) {
    const std::size_t k = std::min(slice, data.size() - pos);
    if (!WriteAll(port, data.data() + pos, k)) return false;
    pos += k;
    std::this_thread::sleep_until(
        start + std::chrono::milliseconds(static_cast<long long>(pos) * 1000 / rate));
  }
  return true;
}

// palvo's side writing: 4096-byte pieces read from the file.
bool SendPieces(int src, int port) {
  char buf[kPiece];
  for (;;) {
    const ssize_t n = ::read(src, buf, sizeof buf);
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAll(port, buf, static_cast<std::size_t>(n))) return false;
  }
}

// Stores what arrives; with a rate, taken no faster, as the handset takes an
// upload (each read's bytes due at the rate before the next read).
bool Receive(int port, int dst, long long total, long rate) {
  char buf[kPiece];
  const Clock::time_point start = Clock::now();
  long long got = 0;
  while (total > 0) {
    struct pollfd q = {port, POLLIN, 0};
    if (::poll(&q, 1, 5000) <= 0) return false;
    const ssize_t n =
        ::read(port, buf, static_cast<std::size_t>(std::min<long long>(total, kPiece)));
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    if (!WriteAll(dst, buf, static_cast<std::size_t>(n))) return false;
    total -= n;
    got += n;
    if (rate > 0)
      std::this_thread::sleep_until(start + std::chrono::milliseconds(got * 1000 / rate));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: raw_pty_copy SOURCE DEST [down|up] [--throttle BYTES_PER_SEC]\n");
    return 2;
  }
  bool up = false;
  long rate = 0;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "up") == 0)
      up = true;
    else if (std::strcmp(argv[i], "--throttle") == 0 && i + 1 < argc)
      rate = std::atol(argv[++i]);
  }
  const int src = ::open(argv[1], O_RDONLY);
  const int dst = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (src < 0 || dst < 0) {
    std::perror("raw_pty_copy");
    return 1;
  }
  const long long total = ::lseek(src, 0, SEEK_END);
  ::lseek(src, 0, SEEK_SET);
  // The handset holds its files in memory before any request comes.
  std::string held;
  if (!up) {
    held.resize(static_cast<std::size_t>(total));
    if (::read(src, held.data(), held.size()) != static_cast<ssize_t>(held.size())) return 1;
  }

  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return 1;
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  if (slave < 0) return 1;
  MakeRaw(master);
  MakeRaw(slave);
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  ::fcntl(slave, F_SETFL, ::fcntl(slave, F_GETFL) | O_NONBLOCK);
  const int writer = up ? slave : master, reader = up ? master : slave;

  const Clock::time_point start = Clock::now();
  const pid_t child = ::fork();
  if (child < 0) return 1;
  if (child == 0) _exit((up ? SendPieces(src, writer) : SendHeld(held, writer, rate)) ? 0 : 1);
  const bool received = Receive(reader, dst, total, up ? rate : 0);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  int status = 0;
  ::waitpid(child, &status, 0);
  const bool sent = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!sent || !received) {
    std::fprintf(stderr, "raw_pty_copy: the copy failed\n");
    return 1;
  }
  std::printf("%.6f\n", seconds);
  return 0;
}

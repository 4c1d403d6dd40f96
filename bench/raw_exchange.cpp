// The floor for a listing-like transfer: a bare client that logs in to
// palvo-handset and runs the same exchanges as palvo, with nothing else to do
// (no rows, no files, no text conversion).
//
//   raw_exchange PTY PIN count N      N file count queries: one round trip each
//   raw_exchange PTY PIN items GROUP  count query, transfer, then one item and
//                                     its acknowledgement per item (6 files,
//                                     5 mails, ...)
//
// Prints "<seconds> <exchanges>", the time of the exchanges alone (the log-in
// and goodbye are outside it).
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int g_fd = -1;
char g_frame[1 << 16];  // item frames of the bench content are small; the rest is skipped

bool WriteAll(const char* p, std::size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(g_fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<std::size_t>(w);
    } else if (w < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool ReadExact(char* dst, std::size_t n) {
  while (n > 0) {
    struct pollfd q = {g_fd, POLLIN, 0};
    if (::poll(&q, 1, 5000) <= 0) return false;
    const ssize_t r = ::read(g_fd, dst, n);
    if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (r <= 0) return false;
    dst += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

bool Send(unsigned code, unsigned group, unsigned op, const char* payload) {
  const std::size_t n = std::strlen(payload);
  const std::uint32_t length = static_cast<std::uint32_t>(n + 4);
  char h[12] = {static_cast<char>(0xE1),
                1,
                static_cast<char>(code >> 8),
                static_cast<char>(code),
                static_cast<char>(length),
                static_cast<char>(length >> 8),
                static_cast<char>(length >> 16),
                static_cast<char>(length >> 24),
                0,
                static_cast<char>(group),
                0,
                static_cast<char>(op)};
  return WriteAll(h, sizeof h) && WriteAll(payload, n);
}

// One response frame; its payload (as much as fits) zero-terminated after the
// header in g_frame. The handset writes whole frames, so no resynchronisation.
bool Receive() {
  if (!ReadExact(g_frame, 12)) return false;
  if (static_cast<unsigned char>(g_frame[0]) != 0xE1 || g_frame[1] != 2) return false;
  const unsigned char* h = reinterpret_cast<const unsigned char*>(g_frame);
  std::size_t payload = (h[4] | (h[5] << 8) | (h[6] << 16) | (std::size_t(h[7]) << 24)) - 4;
  const std::size_t keep = std::min(payload, sizeof g_frame - 13);
  if (!ReadExact(g_frame + 12, keep)) return false;
  g_frame[12 + keep] = 0;
  for (char skip[4096]; payload > keep;) {
    const std::size_t k = std::min(payload - keep, sizeof skip);
    if (!ReadExact(skip, k)) return false;
    payload -= k;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: raw_exchange PTY PIN count N | raw_exchange PTY PIN items GROUP\n");
    return 2;
  }
  g_fd = ::open(argv[1], O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (g_fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  struct termios t;
  ::tcgetattr(g_fd, &t);
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(g_fd, TCSANOW, &t);

  if (!Send(0, 1, 1, "1") || !Receive() || std::strcmp(g_frame + 12, "OK") != 0 ||
      !Send(1, 2, 1, argv[2]) || !Receive() || std::strcmp(g_frame + 12, "OK") != 0) {
    std::fprintf(stderr, "raw_exchange: log-in failed\n");
    return 1;
  }
  const bool items = std::strcmp(argv[3], "items") == 0;
  const long n = std::atol(argv[4]);
  long exchanges = 0;
  const auto start = std::chrono::steady_clock::now();
  bool ok = true;
  if (!items) {
    for (; ok && exchanges < n; ++exchanges) ok = Send(2, 6, 1, "") && Receive();
  } else {
    const unsigned group = static_cast<unsigned>(n);
    const unsigned op = group == 6 ? 7 : 2;
    ok = Send(2, group, 1, "") && Receive();
    const long count = ok ? std::atol(g_frame + 12) : 0;
    if (ok && count > 0) ok = Send(3, group, op, "");
    for (; ok && exchanges < count; ++exchanges)
      ok = Receive() && static_cast<unsigned char>(g_frame[9]) == group && Send(16, 9, 16, "0");
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Send(255, 1, 2, "");
  ::tcdrain(g_fd);
  if (!ok) {
    std::fprintf(stderr, "raw_exchange: exchange %ld failed\n", exchanges);
    return 1;
  }
  std::printf("%.6f %ld\n", seconds, exchanges);
  return 0;
}

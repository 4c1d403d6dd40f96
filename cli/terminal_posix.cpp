// The terminal and the standard streams, natively.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/cli.h"

namespace {
bool g_stdoutClosed = false;               // started without one: nothing written can arrive
volatile std::sig_atomic_t g_resized = 1;  // the terminal's size changed since last read

void OnResize(int) { g_resized = 1; }
}  // namespace

bool StdoutClosed() { return g_stdoutClosed; }

bool IsTerminal(std::FILE* stream) { return ::isatty(fileno(stream)) == 1; }

int TerminalColumns(std::FILE* stream) {
  winsize size;
  if (!IsTerminal(stream) || ::ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

int StderrColumns() {
  static int columns = 0;
  static bool following = false;
  if (!following) {
    following = true;
    // Restarted calls: a resize must not cut short a read of the port or the PIN.
    struct sigaction resize = {};
    resize.sa_handler = OnResize;
    sigemptyset(&resize.sa_mask);
    resize.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &resize, nullptr);
  }
  if (g_resized) {
    g_resized = 0;
    columns = TerminalColumns(stderr);
  }
  return columns;
}

void WriteText(std::FILE* stream, const std::string& utf8) {
  if (stream == stdout && g_stdoutClosed) {
    if (!utf8.empty()) NoteStdoutError(EBADF);
    return;
  }
  NoteWrite(stream, utf8.size(), std::fwrite(utf8.data(), 1, utf8.size(), stream));
}

void GuardStandardStreams() {
  // A closed descriptor 0, 1 or 2 would be taken by the next file opened (the
  // port, the registry file), and output meant for the terminal would go
  // there. Each gets /dev/null; a closed stdout still fails what is written.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) std::_Exit(kExitFailed);
    if (fd == 1) g_stdoutClosed = true;
  }
  // A reader that went away is a write error like any other.
  std::signal(SIGPIPE, SIG_IGN);
}

bool IsJapaneseLocale() {
  // The messages' locale as setlocale would find it: the first of these set.
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    name = std::getenv(variable);
    if (name && *name) break;
    name = nullptr;
  }
  return name && name[0] == 'j' && name[1] == 'a' &&
         (name[2] == 0 || name[2] == '_' || name[2] == '.' || name[2] == '@');
}

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

bool WaitForInput() {
  // A terminal hands over a line at a time, so nothing waits in stdio's
  // buffer that poll would not see.
  if (!::isatty(STDIN_FILENO)) return true;
  for (;;) {
    if (g_stopRequest) return false;
    struct pollfd in = {STDIN_FILENO, POLLIN, 0};
    if (::poll(&in, 1, 100) > 0) return !g_stopRequest;
  }
}

#endif

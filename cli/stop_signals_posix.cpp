// Ctrl-C, SIGTERM and SIGHUP ask the running command to stop, natively.
#ifndef _WIN32

#include <unistd.h>

#include <csignal>
#include <cstring>

#include "cli/cli.h"

namespace {
bool s_stderrTerminal = false;  // known before any signal: isatty is no signal-safe call

// While a set goes up, the first signal is held until it is whole: say so,
// with write() alone, which a signal handler may call.
void SayHeld() {
  const char* note = g_stopHeld == kHoldBookmarks
                         ? "palvo: finishing the bookmarks, Ctrl-C again to stop now\n"
                         : "palvo: finishing the address book, Ctrl-C again to stop now\n";
  if (s_stderrTerminal) (void)!::write(2, "\r\033[K", 4);  // over a progress line
  (void)!::write(2, note, std::strlen(note));
}

// The first signal asks the command to stop (it ends at the next piece or
// item, says goodbye and closes the port); a second one ends the program at
// once, the terminal's echo put back first.
void OnStopSignal(int sig) {
  if (g_stopRequest) {
    PutBackTerminal();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_stopRequest = sig;
  if (g_stopHeld) SayHeld();
}
}  // namespace

void CatchStopSignals() {
  s_stderrTerminal = ::isatty(2) == 1;
  struct sigaction stop = {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = 0;  // no SA_RESTART: a read waiting for the PIN returns
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop, nullptr);
}

#endif

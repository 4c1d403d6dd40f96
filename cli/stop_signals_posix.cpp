// Ctrl-C, SIGTERM and SIGHUP ask the running command to stop, natively.
#ifndef _WIN32

#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "cli/cli.h"

namespace {
// When the first stop request came (CLOCK_MONOTONIC, read in the handler).
struct timespec g_firstStop;
bool s_stderrTerminal = false;  // known before any signal: isatty is no signal-safe call

// While a set goes up, the first signal is held until it is whole: say so,
// with write() alone, which a signal handler may call.
unsigned long long Milliseconds(const struct timespec& t) {
  return static_cast<unsigned long long>(t.tv_sec) * 1000ULL +
         static_cast<unsigned long long>(t.tv_nsec) / 1000000ULL;
}

void SayHeld() {
  const char* note = HeldStopNote(g_stopHeld);
  if (s_stderrTerminal) (void)!::write(2, "\r\033[K", 4);  // over a progress line
  (void)!::write(2, note, std::strlen(note));
}

// The first signal asks the command to stop (it ends at the next piece or
// item, says goodbye and closes the port); a second one ends the program at
// once, the terminal's echo put back first. One stop request often arrives
// twice within a moment (timeout(1) signals its child and then the child's
// group; a kill of a process group reaches palvo and its shell): a repeat
// within a second counts as the same request.
void OnStopSignal(int sig) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (g_stopRequest) {
    if (IsRepeatedStop(Milliseconds(g_firstStop), Milliseconds(now))) return;
    PutBackTerminal();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  g_firstStop = now;
  g_stopRequest = sig;
  if (g_stopHeld) SayHeld();
}
}  // namespace

void CatchStopSignals() {
  s_stderrTerminal = ::isatty(2) == 1;
  HeldStopNote(kHoldBookmarks);
  struct sigaction stop = {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  // The others wait while one is handled: the first's time is whole when a
  // second reads it.
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop.sa_mask, sig);
  stop.sa_flags = 0;  // no SA_RESTART: a read waiting for the PIN returns
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop, nullptr);
}

#endif

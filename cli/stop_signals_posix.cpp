// Ctrl-C, SIGTERM and SIGHUP ask the running command to stop, natively.
#ifndef _WIN32

#include <csignal>

#include "cli/cli.h"

namespace {
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
}
}  // namespace

void CatchStopSignals() {
  struct sigaction stop = {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  stop.sa_flags = 0;  // no SA_RESTART: a read waiting for the PIN returns
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &stop, nullptr);
}

#endif

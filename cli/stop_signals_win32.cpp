// Ctrl+C, Ctrl+Break and a closed console ask the running command to stop, on
// Windows.
#ifdef _WIN32

#include "cli/cli.h"

namespace {
// The first asks the command to stop; a second gets the default handling,
// which ends the program at once.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (g_stopRequest) return FALSE;
  g_stopRequest = event == CTRL_CLOSE_EVENT ? 1 : 2;  // as SIGHUP, SIGINT
  return TRUE;
}
}  // namespace

void CatchStopSignals() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

#endif

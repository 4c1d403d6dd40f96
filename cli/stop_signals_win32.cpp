// Ctrl+C, Ctrl+Break and a closed console ask the running command to stop, on
// Windows.
#ifdef _WIN32

#include "cli/cli.h"

namespace {
ULONGLONG g_firstStopMs;

// The first asks the command to stop; a second, a second or more later, gets
// the default handling, which ends the program at once (one that comes
// sooner is the first delivered twice).
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  const ULONGLONG now = GetTickCount64();
  if (g_stopRequest) return IsRepeatedStop(g_firstStopMs, now) ? TRUE : FALSE;
  g_firstStopMs = now;
  g_stopRequest = event == CTRL_CLOSE_EVENT ? 1 : 2;  // as SIGHUP, SIGINT
  // While a set goes up the stop waits until it is whole: say so.
  if (g_stopHeld) {
    WriteText(stderr, "\n");
    WriteText(stderr, HeldStopNote(g_stopHeld));
  }
  return TRUE;
}
}  // namespace

void CatchStopSignals() {
  HeldStopNote(kHoldBookmarks);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

#endif

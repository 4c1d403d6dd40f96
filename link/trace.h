// The port trace: every byte to and from the handset, with its direction and
// time, in a line-based text file a person can hand over with a problem
// report (and palvo-handset --replay can serve back).
//
// First line, once the port is open:
//   palvo-trace 1; palvo VERSION; system SYSTEM; port NAME; settings TEXT; redaction LEVEL
// then one line per chunk, as it happened:
//   MS > TOKENS       bytes written to the handset
//   MS < TOKENS       bytes read from it
//   MS ! TEXT         a read or write call that failed (the link vanished)
//   MS open NAME      a later connection in the same run
//   MS close          the port closed
// MS is the time since the trace began in milliseconds. TOKENS are separated
// by one blank: lower-case hex of bytes as they went, "pin:N" for N digits of
// the PIN, "private:N:HASH" for N payload bytes withheld (HASH: 16 hex digits
// of a hash salted per trace, equal for equal bytes within one trace only).
#pragma once

#include "link/state.h"
#include "platform/win32.h"

enum class TraceLevel {
  kRedacted,  // everything but the PIN's digits
  kPrivate,   // also the contents of files, bookmarks, addresses and mails
};

extern bool g_tracing;  // the one branch per port read or write when off

// Makes FILE (new, never over an existing one, the owner's alone) and starts
// tracing into it; system names the computer for the first line. False with
// the file untouched when it cannot be made (GetLastError says why).
bool StartTrace(const WCHAR* path, TraceLevel level, const char* system);
void StopTrace();

void TracePortOpened(HANDLE port, const WCHAR* name);
void TracePortClosed();
void TraceChunk(char direction, const void* data, DWORD n);
void TraceFailure(char direction, DWORD error);

// The port's read and write calls, through the trace when it is on.
inline BOOL PortWrite(const void* data, DWORD n, DWORD* written) {
  const BOOL ok = WriteFile(g_port, data, n, written, nullptr);
  if (g_tracing) {
    if (*written > 0) TraceChunk('>', data, *written);
    if (!ok) TraceFailure('>', GetLastError());
  }
  return ok;
}

inline BOOL PortRead(void* data, DWORD n, DWORD* got) {
  const BOOL ok = ReadFile(g_port, data, n, got, nullptr);
  if (g_tracing) {
    if (ok && *got > 0) TraceChunk('<', data, *got);
    if (!ok) TraceFailure('<', GetLastError());
  }
  return ok;
}

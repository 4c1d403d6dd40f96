// The system and a failed trace file's reason, natively.
#ifndef _WIN32

#include <sys/utsname.h>

#include <cerrno>

#include "cli/cli.h"

std::string SystemText() {
  struct utsname u;
  if (::uname(&u) != 0) return "Linux";
  return std::string(u.sysname) + " " + u.release + " " + u.machine;
}

std::wstring TraceFileReason() {
  return errno == EEXIST ? InLanguage(L"it exists (a trace goes only into a new file)",
                                      L"すでにあります (トレースは新しいファイルにだけ書きます)")
                         : SystemReason(errno);
}

#endif  // _WIN32

// The system and a failed trace file's reason, on Windows.
#ifdef _WIN32

#include "cli/cli.h"

std::string SystemText() {
  // What the program is shown (a compatibility layer's choice too): enough
  // to tell systems apart in a report.
  const DWORD v = GetVersion();
  return "Windows " + std::to_string(LOBYTE(LOWORD(v))) + "." + std::to_string(HIBYTE(LOWORD(v))) +
         " build " + std::to_string(v < 0x80000000u ? HIWORD(v) : 0);
}

std::wstring TraceFileReason() {
  const DWORD error = GetLastError();
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
             ? InLanguage(L"it exists (a trace goes only into a new file)",
                          L"すでにあります (トレースは新しいファイルにだけ書きます)")
             : SystemReason(error);
}

#endif  // _WIN32

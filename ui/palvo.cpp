// The program's entry: everything happens in PalvoMain (startup.cpp), after
// the one switch the window program takes.
#include <string>

#include "link/trace.h"
#include "platform/win32/safe_loading.h"
#include "ui/ui.h"

// palvo.exe --trace FILE [--trace-private]: every byte to and from the
// handset into FILE, for a problem report (as palvo --trace).
static void StartTraceFromCommandLine() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return;
  const WCHAR* path = nullptr;
  bool privatePayloads = false;
  for (int i = 1; i < argc; ++i) {
    if (lstrcmpW(argv[i], L"--trace") == 0 && i + 1 < argc) path = argv[++i];
    if (lstrcmpW(argv[i], L"--trace-private") == 0) privatePayloads = true;
  }
  if (path) {
    const DWORD v = GetVersion();
    const std::string system =
        "Windows " + std::to_string(LOBYTE(LOWORD(v))) + "." + std::to_string(HIBYTE(LOWORD(v)));
    if (!StartTrace(path, privatePayloads ? TraceLevel::kPrivate : TraceLevel::kRedacted,
                    system.c_str())) {
      const std::wstring text =
          std::wstring(L"The trace ") + path +
          L" cannot be made (it exists, or its folder cannot be written); Palvo runs without it.";
      MessageBoxW(nullptr, text.c_str(), L"Palvo", MB_OK | MB_ICONWARNING);
    }
  }
  LocalFree(argv);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifndef _WIN32_WCE
  RestrictDllSearch();
#endif
  StartTraceFromCommandLine();
  const int status = PalvoMain(instance);
  StopTrace();
  return status;
}

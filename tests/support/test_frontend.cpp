#include "tests/support/test_frontend.h"

#include <cstdlib>
#include <string>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "link/frame.h"
#include "link/frontend.h"
#include "tests/support/peer.h"

TestFrontend g_testFrontend;

int AskPin(HWND) {
  ++g_testFrontend.askPinCalls;
  if (g_testFrontend.cancelPin) return 0;
  g_currentPin = g_testFrontend.pinToEnter;
  return 1;
}

void ShowStatus(const WCHAR* text, int mode) {
  g_testFrontend.statuses.push_back({text ? std::wstring(text) : std::wstring(), mode});
}

void ShowProgress(std::uint64_t, std::uint64_t) {}

void ResetTestProcess() {
#ifndef _WIN32
  // A registry file of this test process's own.
  static std::string file;
  if (file.empty()) {
    const char* dir = std::getenv("TMPDIR");
    file = std::string(dir ? dir : "/tmp") + "/palvo-test-registry-" + std::to_string(::getpid()) +
           ".reg";
    ::setenv("PALVO_REGISTRY", file.c_str(), 1);
  }
  // A USB serial device on the test machine must not join the handset search.
  if (!std::getenv("PALVO_SYSFS_ROOT")) ::setenv("PALVO_SYSFS_ROOT", "/nonexistent", 1);
  std::remove(file.c_str());
#endif
  ClearDrivers();
  InitProcessState();
  g_testFrontend.Reset();
  g_silenceLimitMs = 1500;
  g_receiveDeadlineMs = kReceiveDeadlineMs;
}

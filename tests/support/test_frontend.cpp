#include "tests/support/test_frontend.h"

#include <cstdio>
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

#ifndef _WIN32
namespace {

// This process's registry file; a plain buffer, as it is still read at exit.
char g_registryFile[4096];
pid_t g_registryOwner = 0;

// The registry file and its lock, as the registry stand-in names them (a
// forked child that exits leaves its parent's alone).
void RemoveRegistryFiles() {
  if (::getpid() != g_registryOwner) return;
  for (const char* suffix : {"", ".lock", ".tmp"})
    std::remove((std::string(g_registryFile) + suffix).c_str());
}

}  // namespace
#endif

void ResetTestProcess() {
#ifndef _WIN32
  // A registry file of this test process's own.
  if (!g_registryFile[0]) {
    const char* dir = std::getenv("TMPDIR");
    std::snprintf(g_registryFile, sizeof g_registryFile, "%s/palvo-test-registry-%ld.reg",
                  dir && *dir ? dir : "/tmp", static_cast<long>(::getpid()));
    ::setenv("PALVO_REGISTRY", g_registryFile, 1);
    g_registryOwner = ::getpid();
    // It holds a scrambled PIN: gone with the process, not at the next test.
    std::atexit(RemoveRegistryFiles);
  }
  // A USB serial device on the test machine must not join the handset search.
  if (!std::getenv("PALVO_SYSFS_ROOT")) ::setenv("PALVO_SYSFS_ROOT", "/nonexistent", 1);
  std::remove(g_registryFile);
#endif
  ClearDrivers();
  InitProcessState();
  g_testFrontend.Reset();
  g_silenceLimitMs = 1500;
  g_receiveDeadlineMs = kReceiveDeadlineMs;
}

#include "link/state.h"

#include <cwchar>

#include "link/port.h"

HANDLE g_port = INVALID_HANDLE_VALUE;
BYTE* g_packet = nullptr;
BYTE* g_lineBuffer = nullptr;
DWORD g_currentPin = kNoPin;
DWORD g_installationKey = 0;
WCHAR g_driverKeyPath[kPathUnits];
WCHAR g_portName[kPathUnits];
WCHAR g_lastPath[kPathUnits];
bool g_connected = false;
// The front end's choices for the port and the PIN (port.h).
WCHAR g_givenPort[kPathUnits];
PinSource g_pinSource = PinSource::kStored;
HWND g_mainWindow = nullptr;
HWND g_listView = nullptr;
volatile std::sig_atomic_t g_stopRequest = 0;
volatile std::sig_atomic_t g_stopHeld = 0;
WCHAR g_problemPath[kPathUnits];
DWORD g_problemError = 0;

void NoteProblem(const WCHAR* path, DWORD error) {
  std::wcsncpy(g_problemPath, path ? path : L"", kPathUnits - 1);
  g_problemPath[kPathUnits - 1] = 0;
  g_problemError = error;
}

void InitProcessState() {
  if (!g_packet) g_packet = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, kBufferBytes));
  if (!g_lineBuffer) g_lineBuffer = static_cast<BYTE*>(LocalAlloc(LMEM_FIXED, kBufferBytes));
  g_port = INVALID_HANDLE_VALUE;
  g_currentPin = kNoPin;
  g_driverKeyPath[0] = 0;
  g_portName[0] = 0;
  g_lastPath[0] = 0;
  g_connected = false;
  g_stopRequest = 0;
  g_problemPath[0] = 0;
  g_problemError = 0;
  g_stopHeld = 0;
}

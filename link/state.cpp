#include "link/state.h"

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
  g_stopHeld = 0;
}

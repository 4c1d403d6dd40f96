#include "link/port.h"

#include <cwchar>

#include "link/frontend.h"
#include "link/messages.h"
#include "link/pin_store.h"

static const WCHAR kActiveDrivers[] = L"Drivers\\Active";
// The handset's USB serial client driver, whatever instance number it got.
static const WCHAR kDriverPrefix[] = L"Drivers\\USB\\LoadClients\\1154_515_";
static const WCHAR kDriverSuffix[] = L"\\RS232_USB";
constexpr std::size_t kPrefixUnits = sizeof(kDriverPrefix) / sizeof(WCHAR) - 1;  // 33
constexpr std::size_t kSuffixUnits = sizeof(kDriverSuffix) / sizeof(WCHAR) - 1;  // 10
constexpr DWORD kHighestPin = 9999;

// Reads a string value into a buffer of kPathUnits. A value that does not
// fit, or fills the buffer without a terminator, counts as unreadable.
static bool ReadPathValue(HKEY key, const WCHAR* name, WCHAR* out) {
  DWORD bytes = kPathUnits * sizeof(WCHAR);
  if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &bytes) !=
      ERROR_SUCCESS) {
    out[0] = 0;
    return false;
  }
  const DWORD units = bytes / sizeof(WCHAR);
  if (units < static_cast<DWORD>(kPathUnits)) out[units] = 0;  // stored without terminator
  if (!std::wmemchr(out, 0, kPathUnits)) {
    out[0] = 0;
    return false;
  }
  return true;
}

static bool IsHandsetDriver(const WCHAR* path) {
  if (_wcsnicmp(path, kDriverPrefix, kPrefixUnits) != 0) return false;
  // The prefix matched, so the path is long enough for the suffix.
  return _wcsicmp(path + std::wcslen(path) - kSuffixUnits, kDriverSuffix) == 0;
}

// Fills g_driverKeyPath and g_portName from the first active driver instance
// that is the handset's; leaves the key path empty when there is none.
static void FindHandsetDriver() {
  HKEY active;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveDrivers, 0, KEY_READ, &active) != ERROR_SUCCESS)
    return;
  WCHAR name[kPathUnits];
  for (DWORD index = 0;; ++index) {
    DWORD nameUnits = kPathUnits;
    if (RegEnumKeyExW(active, index, name, &nameUnits, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY instance;
    if (RegOpenKeyExW(active, name, 0, KEY_QUERY_VALUE, &instance) != ERROR_SUCCESS) continue;
    const bool found = ReadPathValue(instance, L"Key", g_driverKeyPath) &&
                       IsHandsetDriver(g_driverKeyPath) &&
                       ReadPathValue(instance, L"Name", g_portName);
    if (!found) g_driverKeyPath[0] = 0;
    RegCloseKey(instance);
    if (found) break;
  }
  RegCloseKey(active);
}

Message OpenHandsetPort() {
  g_port = INVALID_HANDLE_VALUE;
  g_driverKeyPath[0] = 0;
  FindHandsetDriver();
  if (g_driverKeyPath[0] == 0) return MSG_HANDSET_NOT_FOUND;

  g_currentPin = kNoPin;
  ReadStoredPin();
  if (g_currentPin > kHighestPin) {
    if (!AskPin(g_mainWindow)) return MSG_CANCELLED;
    WriteStoredPin();
#ifdef _WIN32
    UpdateWindow(g_mainWindow);  // repaint under the dialog before the port work blocks
#endif
  }

  g_port =
      CreateFileW(g_portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (g_port == INVALID_HANDLE_VALUE) return MSG_OPEN_FAILED;

  // Escape 10 is what the handset's driver expects at open; other serial
  // drivers refuse it, which does no harm.
  EscapeCommFunction(g_port, 10);
  // A read returns what is waiting, else waits up to 1000 ms for a first byte.
  COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 1000, 0, 1000};
  SetCommTimeouts(g_port, &timeouts);
  PurgeComm(g_port, PURGE_RXCLEAR);  // leftovers of an earlier connection
  return nullptr;
}

void ClosePort() {
  if (g_port != INVALID_HANDLE_VALUE) CloseHandle(g_port);
  g_port = INVALID_HANDLE_VALUE;
}

#include "link/port.h"

#include <cwchar>
#include <string>

#include "link/frontend.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "link/steps.h"
#include "link/trace.h"

static const WCHAR kActiveDrivers[] = L"Drivers\\Active";
// The handset's USB serial client driver, whatever instance number it got.
static const WCHAR kDriverPrefix[] = L"Drivers\\USB\\LoadClients\\" PALVO_HANDSET_USB_IDS L"_";
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

// A port name without the "\\.\" of a device path and the ":" of a CE
// device name, so that "COM3", "\\.\COM3" and "COM3:" name one port.
static const WCHAR* BarePortName(const WCHAR* name, std::size_t* units) {
  if (std::wcsncmp(name, L"\\\\.\\", 4) == 0) name += 4;
  std::size_t n = std::wcslen(name);
  if (n > 0 && name[n - 1] == L':') --n;
  *units = n;
  return name;
}

static bool SamePort(const WCHAR* a, const WCHAR* b) {
  std::size_t na, nb;
  a = BarePortName(a, &na);
  b = BarePortName(b, &nb);
  if (na != nb) return false;
#ifdef _WIN32
  return _wcsnicmp(a, b, na) == 0;  // device names ignore letter case
#else
  return std::wcsncmp(a, b, na) == 0;
#endif
}

// Fills g_driverKeyPath and g_portName from the first active driver instance
// at *index or after it that is the handset's (with a given port: publishes
// it), and moves *index past it; false, with the key path empty, when there
// is none.
static bool NextHandsetDriver(DWORD* index) {
  g_driverKeyPath[0] = 0;
  HKEY active;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActiveDrivers, 0, KEY_READ, &active) != ERROR_SUCCESS)
    return false;
  WCHAR name[kPathUnits];
  bool found = false;
  for (; !found; ++*index) {
    DWORD nameUnits = kPathUnits;
    if (RegEnumKeyExW(active, *index, name, &nameUnits, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY instance;
    if (RegOpenKeyExW(active, name, 0, KEY_QUERY_VALUE, &instance) != ERROR_SUCCESS) continue;
    found = ReadPathValue(instance, L"Key", g_driverKeyPath) && IsHandsetDriver(g_driverKeyPath) &&
            ReadPathValue(instance, L"Name", g_portName) &&
            (!g_givenPort[0] || SamePort(g_portName, g_givenPort));
    if (!found) g_driverKeyPath[0] = 0;
    RegCloseKey(instance);
  }
  RegCloseKey(active);
  return found;
}

// FindHandsetDriver; *index is where a search for a further entry goes on.
static bool FindHandsetDriverFrom(DWORD* index) {
  NextHandsetDriver(index);
  if (g_givenPort[0]) {
    // The port is the one given, whether or not a driver publishes it.
    std::wcsncpy(g_portName, g_givenPort, kPathUnits - 1);
    g_portName[kPathUnits - 1] = 0;
    ReportStep(Step::kPortFound, g_portName);
    return g_driverKeyPath[0] != 0;
  }
  if (g_driverKeyPath[0] == 0) return false;
  ReportStep(Step::kPortFound, g_portName);
  return true;
}

bool FindHandsetDriver() {
  DWORD index = 0;
  return FindHandsetDriverFrom(&index);
}

// Opens the port named by g_portName and sets it up; the message when it
// cannot be the handset's, with the port and the reason noted.
static Message OpenNamedPort() {
  g_port =
      CreateFileW(g_portName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (g_port == INVALID_HANDLE_VALUE) {
    NoteProblem(g_portName, GetLastError());
    return MSG_OPEN_FAILED;
  }
  // SETIR is what the handset's driver expects at open; other serial drivers
  // refuse it, which does no harm.
  EscapeCommFunction(g_port, SETIR);
  // A read returns what is waiting, else waits up to 1000 ms for a first byte.
  // Only a serial port takes time-outs: a file or /dev/null never hears the PIN.
  COMMTIMEOUTS timeouts = {MAXDWORD, MAXDWORD, 1000, 0, 1000};
  if (!SetCommTimeouts(g_port, &timeouts)) {
    ClosePort();
    NoteProblem(g_portName, ERROR_SUCCESS);
    return MSG_NOT_A_PORT;
  }
  ReportStep(Step::kPortOpened, g_portName);
  return nullptr;
}

// Where the search for a further handset entry goes on, and whether the
// port open now was found by it (a later entry may then be tried).
static DWORD g_nextEntry;
static bool g_searchedPort;

// Opens the port of the next entry that names the handset's driver, going
// on past those that cannot be opened; false when none is left. The PIN
// stays under the key it was read from: a PIN the handset refuses is then
// forgotten where the next connection would read it again.
static bool OpenLaterEntry() {
  WCHAR pinKey[kPathUnits];
  std::wcscpy(pinKey, g_driverKeyPath);
  bool opened = false;
  while (!opened && NextHandsetDriver(&g_nextEntry)) {
    ReportStep(Step::kPortFound, g_portName);
    opened = OpenNamedPort() == nullptr;
    if (!opened) ReportStep(Step::kPortUnusable, g_portName);
  }
  std::wcscpy(g_driverKeyPath, pinKey);
  return opened;
}

// Opens the port found, or given. Searched, every entry that names the
// handset's driver is tried in order until one opens (an entry written by
// hand may name a port long gone); the first one's problem is reported when
// none does.
static Message OpenFoundPort() {
  const Message first = OpenNamedPort();
  if (!first || g_givenPort[0]) return first;
  WCHAR firstPath[kPathUnits], firstPort[kPathUnits];
  std::wcscpy(firstPath, g_problemPath);
  std::wcscpy(firstPort, g_portName);
  const DWORD firstError = g_problemError;
  ReportStep(Step::kPortUnusable, g_portName);
  if (OpenLaterEntry()) return nullptr;
  std::wcscpy(g_portName, firstPort);
  NoteProblem(firstPath, firstError);
  return first;
}

// The port open and ready for a connection: nothing of an earlier one left.
static void PortReady() {
  PurgeComm(g_port, PURGE_RXCLEAR);
  if (g_tracing) TracePortOpened(g_port, g_portName);
}

bool LaterHandsetEntry() {
  if (!g_searchedPort || g_port == INVALID_HANDLE_VALUE) return false;
  WCHAR key[kPathUnits], port[kPathUnits];
  std::wcscpy(key, g_driverKeyPath);
  std::wcscpy(port, g_portName);
  DWORD next = g_nextEntry;
  const bool later = NextHandsetDriver(&next);
  std::wcscpy(g_driverKeyPath, key);
  std::wcscpy(g_portName, port);
  return later;
}

bool OpenNextHandsetPort() {
  if (!g_searchedPort || g_port == INVALID_HANDLE_VALUE) return false;
  ClosePort();
  NoteProblem(g_portName, ERROR_SEM_TIMEOUT);
  ReportStep(Step::kPortUnusable, g_portName);
  WCHAR firstPort[kPathUnits];
  std::wcscpy(firstPort, g_portName);
  if (!OpenLaterEntry()) {
    std::wcscpy(g_portName, firstPort);
    return false;
  }
  PortReady();
  g_searchedPort = true;
  return true;
}

// The stored PIN, else the one the user gives; MSG_CANCELLED when none is.
static Message ObtainPin() {
  g_currentPin = kNoPin;
  if (g_pinSource == PinSource::kStored) ReadStoredPin();
  if (g_currentPin <= kHighestPin) return nullptr;
  if (!AskPin(g_mainWindow)) return MSG_CANCELLED;
  if (g_pinSource == PinSource::kStored) WriteStoredPin();
#ifdef _WIN32
  UpdateWindow(g_mainWindow);  // repaint under the dialog before the port work blocks
#endif
  return nullptr;
}

Message OpenHandsetPort() {
  g_port = INVALID_HANDLE_VALUE;
  g_nextEntry = 0;
  if (!FindHandsetDriverFrom(&g_nextEntry) && !g_givenPort[0]) return MSG_HANDSET_NOT_FOUND;

  if (g_givenPort[0]) {
    // A port named by hand is tried before the PIN is asked: a mistyped path
    // fails at once, and nothing is asked for a port that is not there.
    if (const Message problem = OpenNamedPort()) return problem;
    if (const Message problem = ObtainPin()) {
      ClosePort();
      return problem;
    }
  } else {
    // Found in the registry: the PIN first (it is kept under the driver
    // found), then the port, as the window has always done it.
    if (const Message problem = ObtainPin()) return problem;
    if (const Message problem = OpenFoundPort()) return problem;
    g_searchedPort = true;
  }
  PortReady();
  return nullptr;
}

// Calls visit with the name of each subkey of parent\path (260 units at most).
template <typename Visit>
static void ForEachSubkey(HKEY parent, const WCHAR* path, Visit visit) {
  HKEY key;
  if (RegOpenKeyExW(parent, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  WCHAR name[kPathUnits];
  for (DWORD index = 0;; ++index) {
    DWORD units = kPathUnits;
    if (RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    visit(name);
  }
  RegCloseKey(key);
}

int ForgetStoredPins() {
  int forgotten = 0;
  if (FindHandsetDriver() && DeleteStoredPin()) ++forgotten;
  // "Drivers\USB\LoadClients\" and the ids' "1154_515_" of the prefix.
  const std::size_t parentUnits = std::wcslen(L"Drivers\\USB\\LoadClients");
  const std::wstring parent(kDriverPrefix, parentUnits);
  const WCHAR* ids = kDriverPrefix + parentUnits + 1;
  ForEachSubkey(HKEY_LOCAL_MACHINE, parent.c_str(), [&](const WCHAR* client) {
    if (_wcsnicmp(client, ids, std::wcslen(ids)) != 0) return;
    const std::wstring clientPath = parent + L"\\" + client;
    ForEachSubkey(HKEY_LOCAL_MACHINE, clientPath.c_str(), [&](const WCHAR* instance) {
      const std::wstring path = clientPath + L"\\" + instance + kDriverSuffix;
      if (path.size() >= static_cast<std::size_t>(kPathUnits)) return;
      std::wcscpy(g_driverKeyPath, path.c_str());
      if (DeleteStoredPin()) ++forgotten;
    });
  });
  g_driverKeyPath[0] = 0;
  return forgotten;
}

void ClosePort() {
  if (g_port != INVALID_HANDLE_VALUE) {
    CloseHandle(g_port);
    if (g_tracing) TracePortClosed();
  }
  g_port = INVALID_HANDLE_VALUE;
  g_searchedPort = false;
}

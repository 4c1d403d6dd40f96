// The desktop stand-in for HKLM\Drivers\Active and the driver keys (see
// desktop_registry.h). Plain fixed tables: no allocation per call.
#define PALVO_DESKTOP_REGISTRY_ITSELF
#include "platform/win32/desktop_registry.h"

#include <cstring>
#include <cwchar>

#include "platform/win32/setupapi_calls.h"

const SetupApiCalls kSystemSetupApi = {
    &SetupDiGetClassDevsW,         &SetupDiEnumDeviceInfo, &SetupDiGetDeviceRegistryPropertyW,
    &SetupDiOpenDevRegKey,         &RegQueryValueExW,      &RegCloseKey,
    &SetupDiDestroyDeviceInfoList,
};
SetupApiCalls g_setupApi = kSystemSetupApi;

namespace {

const WCHAR kActive[] = L"Drivers\\Active";
const WCHAR kDrivers[] = L"Drivers\\";
const WCHAR kUserRoot[] = L"Software\\Palvo\\";
constexpr std::size_t kActiveUnits = sizeof(kActive) / sizeof(WCHAR) - 1;
constexpr std::size_t kDriversUnits = sizeof(kDrivers) / sizeof(WCHAR) - 1;
constexpr std::size_t kUserRootUnits = sizeof(kUserRoot) / sizeof(WCHAR) - 1;

// The Ports device class: serial and parallel ports.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

constexpr int kMaxPorts = 32;
constexpr int kMaxOpenKeys = 8;
constexpr unsigned kHighestCom = 256;

struct UsbPort {
  unsigned number;  // n of COMn: the order of the entries
  WCHAR subkey[8];  // "COM3"
  WCHAR driverKey[64];
  WCHAR name[16];  // "\\.\COM3"
};

// The ports found by the last open of the stand-in's Drivers\Active.
UsbPort g_ports[kMaxPorts];
int g_portCount = 0;
// Whether the last open of HKLM\Drivers\Active fell back to the stand-in.
bool g_standIn = false;

// An open key of the stand-in; its handle is the slot's address, which no
// system handle can be. An entry keeps its own copy of the port.
struct StandInKey {
  bool open;
  bool entry;  // false: Drivers\Active itself
  UsbPort port;
};
StandInKey g_keys[kMaxOpenKeys];

StandInKey* StandIn(HKEY key) {
  for (StandInKey& k : g_keys)
    if (k.open && key == reinterpret_cast<HKEY>(&k)) return &k;
  return nullptr;
}

LSTATUS OpenStandIn(const UsbPort* port, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  for (StandInKey& k : g_keys)
    if (!k.open) {
      k.open = true;
      k.entry = port != nullptr;
      if (port) k.port = *port;
      *result = reinterpret_cast<HKEY>(&k);
      return ERROR_SUCCESS;
    }
  return ERROR_NOT_ENOUGH_MEMORY;
}

LSTATUS OpenEntry(LPCWSTR name, PHKEY result) {
  for (int i = 0; i < g_portCount; ++i)
    if (_wcsicmp(g_ports[i].subkey, name) == 0) return OpenStandIn(&g_ports[i], result);
  return ERROR_FILE_NOT_FOUND;
}

// Exactly four hexadecimal digits.
bool Hex4(const WCHAR* text, unsigned* value) {
  *value = 0;
  for (int i = 0; i < 4; ++i) {
    const WCHAR c = text[i];
    const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                      : c >= L'a' && c <= L'f' ? c - L'a' + 10
                      : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                               : -1;
    if (digit < 0) return false;
    *value = *value * 16 + static_cast<unsigned>(digit);
  }
  return true;
}

// The USB ids of the first "USB\VID_xxxx&PID_yyyy..." among the hardware
// ids (a list of strings ending with an empty one).
bool UsbIds(const WCHAR* ids, unsigned* vendor, unsigned* product) {
  for (const WCHAR* id = ids; *id; id += std::wcslen(id) + 1)
    if (_wcsnicmp(id, L"USB\\VID_", 8) == 0 && Hex4(id + 8, vendor) &&
        _wcsnicmp(id + 12, L"&PID_", 5) == 0 && Hex4(id + 17, product))
      return true;
  return false;
}

// n of "COMn"; false for other ports (LPT1) and odd names.
bool ComNumber(const WCHAR* name, unsigned* number) {
  if (_wcsnicmp(name, L"COM", 3) != 0 || !name[3]) return false;
  *number = 0;
  for (const WCHAR* c = name + 3; *c; ++c) {
    if (*c < L'0' || *c > L'9') return false;
    *number = *number * 10 + static_cast<unsigned>(*c - L'0');
    if (*number > kHighestCom) return false;
  }
  return *number > 0;
}

void AddPort(unsigned number, unsigned vendor, unsigned product) {
  int at = g_portCount;
  while (at > 0 && g_ports[at - 1].number > number) {
    g_ports[at] = g_ports[at - 1];
    --at;
  }
  UsbPort& p = g_ports[at];
  p.number = number;
  std::swprintf(p.subkey, 8, L"COM%u", number);
  std::swprintf(p.driverKey, 64, L"Drivers\\USB\\LoadClients\\%u_%u_Default\\0\\RS232_USB", vendor,
                product);
  std::swprintf(p.name, 16, L"\\\\.\\COM%u", number);
  ++g_portCount;
}

void FindUsbSerialPorts() {
  g_portCount = 0;
  const HDEVINFO set = g_setupApi.GetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  for (DWORD index = 0; g_portCount < kMaxPorts; ++index) {
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    if (!g_setupApi.EnumDeviceInfo(set, index, &device)) break;
    // Room for two terminators behind whatever comes back.
    WCHAR ids[512] = {};
    DWORD type = 0;
    unsigned vendor = 0, product = 0;
    if (!g_setupApi.GetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type,
                                               reinterpret_cast<BYTE*>(ids),
                                               sizeof ids - 2 * sizeof(WCHAR), nullptr) ||
        type != REG_MULTI_SZ || !UsbIds(ids, &vendor, &product))
      continue;
    const HKEY key =
        g_setupApi.OpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
    if (!key || key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) continue;
    WCHAR portName[16] = {};
    DWORD bytes = sizeof portName - sizeof(WCHAR);
    const LSTATUS status = g_setupApi.QueryDeviceKeyValue(
        key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(portName), &bytes);
    g_setupApi.CloseDeviceKey(key);
    unsigned number = 0;
    if (status == ERROR_SUCCESS && type == REG_SZ && ComNumber(portName, &number))
      AddPort(number, vendor, product);
  }
  g_setupApi.DestroyDeviceInfoList(set);
}

}  // namespace

LSTATUS WINAPI DesktopRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                    PHKEY result) {
  if (StandInKey* parent = StandIn(key)) {
    if (parent->entry || !subKey) return ERROR_FILE_NOT_FOUND;
    return OpenEntry(subKey, result);
  }
  if (key != HKEY_LOCAL_MACHINE || !subKey || _wcsnicmp(subKey, kDrivers, kDriversUnits) != 0)
    return RegOpenKeyExW(key, subKey, options, access, result);

  if (_wcsicmp(subKey, kActive) == 0) {
    const LSTATUS status = RegOpenKeyExW(key, subKey, options, access, result);
    g_standIn = status != ERROR_SUCCESS;
    if (!g_standIn) return status;
    FindUsbSerialPorts();
    return OpenStandIn(nullptr, result);
  }
  if (!g_standIn) return RegOpenKeyExW(key, subKey, options, access, result);
  if (_wcsnicmp(subKey, kActive, kActiveUnits) == 0 && subKey[kActiveUnits] == L'\\')
    return OpenEntry(subKey + kActiveUnits + 1, result);
  // A driver key: the user's own copy.
  WCHAR path[MAX_PATH + kUserRootUnits];
  const std::size_t units = std::wcslen(subKey);
  if (units >= MAX_PATH) return ERROR_INVALID_PARAMETER;
  std::wmemcpy(path, kUserRoot, kUserRootUnits);
  std::wmemcpy(path + kUserRootUnits, subKey, units + 1);
  if (access & KEY_SET_VALUE)
    return RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, access, nullptr, result,
                           nullptr);
  return RegOpenKeyExW(HKEY_CURRENT_USER, path, options, access, result);
}

LSTATUS WINAPI DesktopRegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameUnits,
                                    LPDWORD reserved, LPWSTR cls, LPDWORD clsUnits,
                                    PFILETIME lastWrite) {
  const StandInKey* k = StandIn(key);
  if (!k) return RegEnumKeyExW(key, index, name, nameUnits, reserved, cls, clsUnits, lastWrite);
  if (!name || !nameUnits) return ERROR_INVALID_PARAMETER;
  if (k->entry || index >= static_cast<DWORD>(g_portCount)) return ERROR_NO_MORE_ITEMS;
  const WCHAR* sub = g_ports[index].subkey;
  const std::size_t units = std::wcslen(sub);
  if (units + 1 > *nameUnits) return ERROR_MORE_DATA;
  std::wmemcpy(name, sub, units + 1);
  *nameUnits = static_cast<DWORD>(units);
  if (cls && clsUnits && *clsUnits > 0) cls[0] = 0;
  if (clsUnits) *clsUnits = 0;
  if (lastWrite) *lastWrite = FILETIME{0, 0};
  return ERROR_SUCCESS;
}

LSTATUS WINAPI DesktopRegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                       LPBYTE data, LPDWORD bytes) {
  const StandInKey* k = StandIn(key);
  if (!k) return RegQueryValueExW(key, name, reserved, type, data, bytes);
  if (data && !bytes) return ERROR_INVALID_PARAMETER;
  const WCHAR* text = nullptr;
  if (k->entry && name && _wcsicmp(name, L"Key") == 0) text = k->port.driverKey;
  if (k->entry && name && _wcsicmp(name, L"Name") == 0) text = k->port.name;
  if (!text) return ERROR_FILE_NOT_FOUND;
  const DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(WCHAR));
  if (type) *type = REG_SZ;
  if (!bytes) return ERROR_SUCCESS;
  const DWORD room = *bytes;
  *bytes = size;
  if (!data) return ERROR_SUCCESS;
  if (room < size) return ERROR_MORE_DATA;
  std::memcpy(data, text, size);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI DesktopRegCloseKey(HKEY key) {
  if (StandInKey* k = StandIn(key)) {
    k->open = false;
    return ERROR_SUCCESS;
  }
  return RegCloseKey(key);
}

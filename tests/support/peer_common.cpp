#include <cstring>
#include <string>

#include "link/state.h"
#include "tests/support/peer.h"

std::vector<std::uint8_t> ResponseFrame(unsigned code, unsigned group, unsigned operation,
                                        const std::string& payload) {
  std::uint32_t length = static_cast<std::uint32_t>(payload.size()) + 4;
  std::vector<std::uint8_t> f = {0xE1,
                                 0x02,
                                 static_cast<std::uint8_t>(code >> 8),
                                 static_cast<std::uint8_t>(code),
                                 static_cast<std::uint8_t>(length),
                                 static_cast<std::uint8_t>(length >> 8),
                                 static_cast<std::uint8_t>(length >> 16),
                                 static_cast<std::uint8_t>(length >> 24),
                                 0,
                                 static_cast<std::uint8_t>(group),
                                 0,
                                 static_cast<std::uint8_t>(operation)};
  f.insert(f.end(), payload.begin(), payload.end());
  return f;
}

bool ReadRequest(PeerPort& peer, ReceivedRequest* r, int timeoutMs) {
  r->header.assign(12, 0);
  if (!peer.ReadExact(r->header.data(), 12, timeoutMs)) return false;
  r->code = (r->header[2] << 8) | r->header[3];
  r->group = r->header[9];
  r->operation = r->header[11];
  std::uint32_t length = r->header[4] | (r->header[5] << 8) | (r->header[6] << 16) |
                         (static_cast<std::uint32_t>(r->header[7]) << 24);
  r->payload.assign(length >= 4 ? length - 4 : 0, '\0');
  return r->payload.empty() || peer.ReadExact(r->payload.data(), r->payload.size(), timeoutMs);
}

bool OpenCorePort(const WCHAR* name) {
  g_port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (g_port == INVALID_HANDLE_VALUE) return false;
  EscapeCommFunction(g_port, 10);
  COMMTIMEOUTS t = {MAXDWORD, MAXDWORD, 1000, 0, 1000};
  SetCommTimeouts(g_port, &t);
  PurgeComm(g_port, PURGE_RXCLEAR);
  return true;
}

static const WCHAR kActive[] = L"Drivers\\Active";

void RegisterDriver(const WCHAR* sub, const WCHAR* driverKey, const WCHAR* port) {
  std::wstring path = std::wstring(kActive) + L"\\" + sub;
  HKEY key;
  DWORD disposition;
  // The driver's own key exists while its driver is loaded; the PIN lives there.
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, driverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      &disposition) == ERROR_SUCCESS)
    RegCloseKey(key);
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, &disposition) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, L"Key", 0, REG_SZ, reinterpret_cast<const BYTE*>(driverKey),
                 static_cast<DWORD>((std::wcslen(driverKey) + 1) * sizeof(WCHAR)));
  RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(port),
                 static_cast<DWORD>((std::wcslen(port) + 1) * sizeof(WCHAR)));
  RegCloseKey(key);
}

void ClearDrivers() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActive, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  WCHAR name[MAX_PATH];
  for (;;) {
    DWORD n = MAX_PATH;
    if (RegEnumKeyExW(key, 0, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    if (RegDeleteKeyW(key, name) != ERROR_SUCCESS) break;
  }
  RegCloseKey(key);
}

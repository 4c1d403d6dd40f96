// Desktop Windows: HKLM\Drivers\Active made from SetupAPI's USB serial ports
// when the system has none, and the driver key's values kept under HKCU.
// SetupAPI's answers are recorded here (Wine has no USB devices), the rest is
// the system's registry and the COM pair.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/login.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "link/port.h"
#include "platform/win32/setupapi_calls.h"
#include "tests/support/handset_peer.h"
#include "tests/support/test_frontend.h"

namespace {

const WCHAR kActive[] = L"Drivers\\Active";
const WCHAR kUserDriverKey[] =
    L"Software\\Palvo\\Drivers\\USB\\LoadClients\\1154_515_Default\\0\\RS232_USB";

// One device of the Ports class as SetupAPI reports it.
struct RecordedPort {
  const WCHAR* hardwareIds;  // REG_MULTI_SZ: strings, then an empty one
  const WCHAR* portName;     // the device key's PortName; null: none
};

struct Recording {
  std::vector<RecordedPort> ports;
  bool classDevsFail = false;
  int sets = 0, destroyed = 0, keys = 0, closed = 0;
  bool portsClassAsked = false;
} g_recording;

int g_set;  // the address is the recorded device information set
HKEY DeviceKey(std::size_t i) { return reinterpret_cast<HKEY>(&g_recording.ports[i]); }

HDEVINFO WINAPI RecordedGetClassDevsW(const GUID* cls, PCWSTR, HWND, DWORD flags) {
  const GUID ports = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  g_recording.portsClassAsked = cls && IsEqualGUID(*cls, ports) && (flags & DIGCF_PRESENT);
  if (g_recording.classDevsFail) return INVALID_HANDLE_VALUE;
  ++g_recording.sets;
  return &g_set;
}

BOOL WINAPI RecordedEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device) {
  if (set != &g_set || !device || device->cbSize != sizeof(SP_DEVINFO_DATA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (index >= g_recording.ports.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  device->DevInst = index;
  return TRUE;
}

BOOL WINAPI RecordedGetDeviceRegistryPropertyW(HDEVINFO, PSP_DEVINFO_DATA device, DWORD property,
                                               PDWORD type, PBYTE buffer, DWORD size,
                                               PDWORD required) {
  if (property != SPDRP_HARDWAREID) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  const WCHAR* ids = g_recording.ports[device->DevInst].hardwareIds;
  std::size_t units = 0;
  while (ids[units] || ids[units + 1]) ++units;
  const DWORD bytes = static_cast<DWORD>((units + 2) * sizeof(WCHAR));
  if (required) *required = bytes;
  if (size < bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (type) *type = REG_MULTI_SZ;
  std::memcpy(buffer, ids, bytes);
  return TRUE;
}

HKEY WINAPI RecordedOpenDevRegKey(HDEVINFO, PSP_DEVINFO_DATA device, DWORD scope, DWORD, DWORD kind,
                                  REGSAM) {
  if (scope != DICS_FLAG_GLOBAL || kind != DIREG_DEV)
    return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
  ++g_recording.keys;
  return DeviceKey(device->DevInst);
}

LSTATUS WINAPI RecordedQueryDeviceKeyValue(HKEY key, LPCWSTR name, LPDWORD, LPDWORD type,
                                           LPBYTE data, LPDWORD bytes) {
  const WCHAR* text = nullptr;
  for (std::size_t i = 0; i < g_recording.ports.size(); ++i)
    if (key == DeviceKey(i) && std::wstring(name) == L"PortName")
      text = g_recording.ports[i].portName;
  if (!text) return ERROR_FILE_NOT_FOUND;
  const DWORD size = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(WCHAR));
  if (*bytes < size) {
    *bytes = size;
    return ERROR_MORE_DATA;
  }
  *bytes = size;
  *type = REG_SZ;
  std::memcpy(data, text, size);
  return ERROR_SUCCESS;
}

LSTATUS WINAPI RecordedCloseDeviceKey(HKEY) {
  ++g_recording.closed;
  return ERROR_SUCCESS;
}

BOOL WINAPI RecordedDestroyDeviceInfoList(HDEVINFO) {
  ++g_recording.destroyed;
  return TRUE;
}

const SetupApiCalls kRecordedSetupApi = {
    RecordedGetClassDevsW,         RecordedEnumDeviceInfo,      RecordedGetDeviceRegistryPropertyW,
    RecordedOpenDevRegKey,         RecordedQueryDeviceKeyValue, RecordedCloseDeviceKey,
    RecordedDestroyDeviceInfoList,
};

// A PalvoPass straight from the system, past the stand-in.
bool HasPin(HKEY root, const WCHAR* path) {
  DWORD word = 0, bytes = sizeof word;
  return RegGetValueW(root, path, L"PalvoPass", RRF_RT_REG_DWORD, nullptr, &word, &bytes) ==
         ERROR_SUCCESS;
}

struct Entry {
  std::wstring subkey, key, name;
  bool operator==(const Entry&) const = default;
};

// Drivers\Active as the core's calls see it.
std::vector<Entry> ActiveEntries() {
  std::vector<Entry> entries;
  HKEY active;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kActive, 0, KEY_READ, &active) != ERROR_SUCCESS)
    return {{L"<no Drivers\\Active>", L"", L""}};
  WCHAR sub[MAX_PATH];
  for (DWORD i = 0;; ++i) {
    DWORD units = MAX_PATH;
    if (RegEnumKeyExW(active, i, sub, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY entry;
    Entry e{sub, L"?", L"?"};
    if (RegOpenKeyExW(active, sub, 0, KEY_QUERY_VALUE, &entry) == ERROR_SUCCESS) {
      WCHAR text[MAX_PATH];
      DWORD bytes = sizeof text, type = 0;
      if (RegQueryValueExW(entry, L"Key", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) ==
              ERROR_SUCCESS &&
          type == REG_SZ)
        e.key = text;
      bytes = sizeof text;
      if (RegQueryValueExW(entry, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) ==
          ERROR_SUCCESS)
        e.name = text;
      RegCloseKey(entry);
    }
    entries.push_back(e);
  }
  RegCloseKey(active);
  return entries;
}

class DesktopRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    // A desktop: no Drivers\Active, no PIN of an earlier run under HKCU.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kActive);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Palvo");
    CreateDriverKeyInHklm();
    g_recording = Recording();
    g_setupApi = kRecordedSetupApi;
    g_installationKey = 0x27182818u;
  }
  void TearDown() override {
    ClosePort();
    g_setupApi = kSystemSetupApi;
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Palvo");
    // The other tests of the prefix expect the handheld's layout.
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActive, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) == ERROR_SUCCESS)
      RegCloseKey(key);
    EXPECT_EQ(g_recording.destroyed, g_recording.sets);
    EXPECT_EQ(g_recording.closed, g_recording.keys);
  }
  static void CreateDriverKeyInHklm() {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) == ERROR_SUCCESS) {
      RegDeleteValueW(key, L"PalvoPass");
      RegCloseKey(key);
    }
  }
};

TEST_F(DesktopRegistryTest, DriversActiveIsMadeFromTheUsbSerialPorts) {
  struct Case {
    const char* what;
    std::vector<RecordedPort> ports;
    std::vector<Entry> entries;
  };
  const std::wstring other = L"Drivers\\USB\\LoadClients\\1659_8963_Default\\0\\RS232_USB";
  const std::vector<Case> cases = {
      {"two USB serial ports, one of them the handset",
       {{L"USB\\VID_0482&PID_0203&REV_0100\0USB\\VID_0482&PID_0203\0", L"COM5"},
        {L"USB\\VID_067B&PID_2303&REV_0300\0USB\\VID_067B&PID_2303\0", L"COM3"}},
       {{L"COM3", other, L"\\\\.\\COM3"}, {L"COM5", kTestDriverKey, L"\\\\.\\COM5"}}},
      {"none", {}, {}},
      {"ports that are not USB serial ports",
       {{L"ACPI\\PNP0501\0*PNP0501\0", L"COM1"},
        {L"FTDIBUS\\COMPORT&VID_0403&PID_6001\0", L"COM4"},
        {L"USB\\VID_0482&PID_0203\0", L"LPT1"},
        {L"USB\\VID_0482&PID_0203\0", nullptr},
        {L"USB\\VID_0482\0", L"COM9"}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_recording.ports = c.ports;
    EXPECT_EQ(ActiveEntries(), c.entries);
    EXPECT_TRUE(g_recording.portsClassAsked);

    // The core's own search, unchanged, finds the handset by its USB ids.
    g_testFrontend.Reset();
    const Message m = OpenHandsetPort();
    if (c.entries.size() == 2) {
      EXPECT_EQ(m, nullptr);
      EXPECT_EQ(std::wstring(g_portName), L"\\\\.\\COM5");
      EXPECT_EQ(std::wstring(g_driverKeyPath), kTestDriverKey);
      EXPECT_NE(g_port, INVALID_HANDLE_VALUE);
    } else {
      EXPECT_STREQ(m, MSG_HANDSET_NOT_FOUND);
      EXPECT_EQ(g_testFrontend.askPinCalls, 0);
    }
    ClosePort();
  }
  g_recording.classDevsFail = true;
  EXPECT_EQ(ActiveEntries(), std::vector<Entry>{});
}

TEST_F(DesktopRegistryTest, TheSystemsOwnDriversActiveComesFirst) {
  g_recording.ports = {{L"USB\\VID_0482&PID_0203\0", L"COM5"}};
  RegisterDriver(L"01", L"Drivers\\USB\\LoadClients\\1_2_Default\\0\\RS232_USB", L"COM8:");
  EXPECT_EQ(ActiveEntries(),
            (std::vector<Entry>{
                {L"01", L"Drivers\\USB\\LoadClients\\1_2_Default\\0\\RS232_USB", L"COM8:"}}));
  EXPECT_EQ(g_recording.sets, 0);
  // And the PIN stays where it is there.
  RegisterDriver(L"02", kTestDriverKey, L"COM5:");
  g_testFrontend.pinToEnter = 4321;
  EXPECT_EQ(OpenHandsetPort(), nullptr);
  EXPECT_TRUE(HasPin(HKEY_LOCAL_MACHINE, kTestDriverKey));
  EXPECT_FALSE(HasPin(HKEY_CURRENT_USER, kUserDriverKey));
}

TEST_F(DesktopRegistryTest, ThePinIsKeptUnderTheUsersOwnKey) {
  InProcessHandset hs;
  ASSERT_TRUE(hs.ok()) << "run through wine-run.sh --com-pair";
  g_recording.ports = {{L"USB\\VID_0482&PID_0203\0", L"COM5"}};
  int goodbyes = 0;
  auto connect = [&]() -> Message {
    Message m = OpenHandsetPort();
    if (m) return m;
    m = LogIn();
    SendGoodbye();
    ClosePort();
    EXPECT_TRUE(hs.WaitForGoodbye(++goodbyes));
    return m;
  };
  EXPECT_EQ(connect(), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  EXPECT_TRUE(HasPin(HKEY_CURRENT_USER, kUserDriverKey));
  EXPECT_FALSE(HasPin(HKEY_LOCAL_MACHINE, kTestDriverKey));

  // Read back from there next time; refused, deleted there.
  EXPECT_EQ(connect(), nullptr);
  EXPECT_EQ(g_testFrontend.askPinCalls, 1);
  hs->SetPin("9999");
  EXPECT_STREQ(connect(), MSG_WRONG_PIN);
  EXPECT_FALSE(HasPin(HKEY_CURRENT_USER, kUserDriverKey));
}

TEST_F(DesktopRegistryTest, WithTheSystemsSetupApiNoHandsetIsFoundUnderWine) {
  g_setupApi = kSystemSetupApi;  // Wine lists no USB serial ports
  EXPECT_STREQ(OpenHandsetPort(), MSG_HANDSET_NOT_FOUND);
  EXPECT_EQ(g_testFrontend.askPinCalls, 0);
}

}  // namespace

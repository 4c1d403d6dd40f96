#include "link/pin_store.h"

// The stored word is bound to this installation: a key made from the
// program's own path and file times scrambles it, and a salt byte from the
// tick count makes every write store a different word for the same PIN.

// Fixed for good: a PIN stored by one build reads back only with these.
constexpr DWORD kSeed = 0x6A09E667u;
constexpr DWORD kKeyMultiplier = 7919;  // odd, four digits
constexpr DWORD kScrambleMultiplier2 = 40503;
constexpr DWORD kScrambleMultiplier3 = 73;

static const WCHAR kPinValue[] = L"PalvoPass";

DWORD Mix32(DWORD a) {
  DWORD b = a ^ (a << 16);
  b ^= b >> 16;
  // Bits 4-31 rotate left by c + 12 as one 28-bit field; the low four bits
  // carry c so that the rotation can be undone.
  const DWORD c = b & 0xF;
  return ((b >> (16 - c)) & 0xFFFFFFF0u) | ((b & 0xFFFFFFF0u) << (c + 12)) | c;
}

DWORD Unmix32(DWORD x) {
  const DWORD c = x & 0xF;
  DWORD y = ((x >> (c + 12)) & 0xFFFFFFF0u) | ((x & 0xFFFFFFF0u) << (16 - c)) | c;
  y ^= y >> 16;
  return y ^ (y << 16);
}

static DWORD ScrambleKey1() { return g_installationKey; }
static DWORD ScrambleKey2() { return g_installationKey * kScrambleMultiplier2; }
static DWORD ScrambleKey3() { return g_installationKey * kScrambleMultiplier3; }

DWORD ScramblePin(DWORD plain) {
  DWORD s = Mix32(plain) ^ ScrambleKey1();
  s = Mix32(s) ^ ScrambleKey2();
  return Mix32(s) ^ ScrambleKey3();
}

DWORD UnscramblePin(DWORD stored) {
  DWORD p = Unmix32(stored ^ ScrambleKey3());
  p = Unmix32(p ^ ScrambleKey2());
  return Unmix32(p ^ ScrambleKey1());
}

static DWORD MixIn(DWORD key, DWORD unit) { return Mix32(key) ^ (unit * kKeyMultiplier); }

DWORD InstallationKeyFor(const WCHAR* path) {
  DWORD key = kSeed;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    FILETIME created, written;
    if (GetFileTime(file, &created, nullptr, &written)) {
      const DWORD halves[4] = {created.dwLowDateTime, created.dwHighDateTime, written.dwLowDateTime,
                               written.dwHighDateTime};
      for (DWORD half : halves) {
        key = MixIn(key, half & 0xFFFF);
        key = MixIn(key, half >> 16);
      }
    }
    CloseHandle(file);
  }
  // ASCII letters fold to upper case: the file system does not tell them
  // apart, so neither does the key.
  for (const WCHAR* p = path; *p; ++p) {
    DWORD unit = static_cast<DWORD>(*p);
    if (unit >= 0x61 && unit <= 0x7A) unit -= 0x20;
    key = MixIn(key, unit);
  }
  return key;
}

void DeriveInstallationKey() {
  WCHAR path[kPathUnits];
  const DWORD n = GetModuleFileNameW(nullptr, path, kPathUnits);
  // A truncated result need not be terminated.
  path[n < static_cast<DWORD>(kPathUnits) ? n : kPathUnits - 1] = 0;
  g_installationKey = InstallationKeyFor(path);
}

// The driver's own key; without a driver there is no place for a PIN (an
// empty path would open HKEY_LOCAL_MACHINE itself).
static bool OpenDriverKey(REGSAM access, HKEY* key) {
  if (g_driverKeyPath[0] == 0) return false;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, g_driverKeyPath, 0, access, key) == ERROR_SUCCESS;
}

void ReadStoredPin() {
  HKEY key;
  if (!OpenDriverKey(KEY_QUERY_VALUE, &key)) return;
  DWORD stored = 0;
  DWORD bytes = sizeof(stored);
  const LSTATUS status =
      RegQueryValueExW(key, kPinValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&stored), &bytes);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return;
  g_currentPin = UnscramblePin(stored) & 0x00FFFFFFu;  // drop the salt
}

void WriteStoredPinWithSalt(BYTE salt) {
  const DWORD stored = ScramblePin(g_currentPin | (static_cast<DWORD>(salt) << 24));
  HKEY key;
  if (!OpenDriverKey(KEY_SET_VALUE, &key)) return;
  RegSetValueExW(key, kPinValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stored),
                 sizeof(stored));
  RegCloseKey(key);
}

void WriteStoredPin() { WriteStoredPinWithSalt(static_cast<BYTE>(GetTickCount() & 0xFF)); }

bool DeleteStoredPin() {
  HKEY key;
  if (!OpenDriverKey(KEY_SET_VALUE, &key)) return false;
  const bool deleted = RegDeleteValueW(key, kPinValue) == ERROR_SUCCESS;
  RegCloseKey(key);
  return deleted;
}

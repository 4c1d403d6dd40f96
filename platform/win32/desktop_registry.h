// Desktop Windows has no HKEY_LOCAL_MACHINE\Drivers\Active, and HKLM is not
// writable without administrator rights. This stand-in gives the core the
// handheld's view through the registry calls it already makes:
// - RegOpenKeyExW of HKLM\Drivers\Active, when that key cannot be opened,
//   opens a Drivers\Active built from the USB serial ports SetupAPI lists
//   (the Ports device class), as the handheld's device manager publishes its
//   USB serial client drivers: one subkey per port, named after it ("COM3"),
//   with "Key" = "Drivers\USB\LoadClients\<vid>_<pid>_Default\0\RS232_USB"
//   (the ids of the hardware id "USB\VID_xxxx&PID_yyyy" in decimal) and
//   "Name" = "\\.\COM3" (the form that opens every COM number on the
//   desktop; "COM10:" would not). Ports that are not on USB are left out.
//   RegEnumKeyExW, RegOpenKeyExW, RegQueryValueExW and RegCloseKey work on it.
// - While that stand-in is in use, RegOpenKeyExW of any other key under
//   HKLM\Drivers opens it under HKEY_CURRENT_USER\Software\Palvo instead (made
//   when opened for setting values): the driver key's values, the stored PIN
//   among them, are the user's own there.
// Where HKLM\Drivers\Active exists (the handheld, Wine with a driver entry),
// every call is the system's own. The rest of the registry API is untouched.
#pragma once

#include <windows.h>

LSTATUS WINAPI DesktopRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                    PHKEY result);
LSTATUS WINAPI DesktopRegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameUnits,
                                    LPDWORD reserved, LPWSTR cls, LPDWORD clsUnits,
                                    PFILETIME lastWrite);
LSTATUS WINAPI DesktopRegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                       LPBYTE data, LPDWORD bytes);
LSTATUS WINAPI DesktopRegCloseKey(HKEY key);

// The seam: everything that includes platform/win32.h calls these by the
// Win32 names.
#ifndef PALVO_DESKTOP_REGISTRY_ITSELF
#define RegOpenKeyExW DesktopRegOpenKeyExW
#define RegEnumKeyExW DesktopRegEnumKeyExW
#define RegQueryValueExW DesktopRegQueryValueExW
#define RegCloseKey DesktopRegCloseKey
#endif

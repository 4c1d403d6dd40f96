// The SetupAPI calls the desktop Drivers\Active is built from, by pointer:
// the real ones, or a test's recorded answers.
#pragma once

#include <windows.h>
// setupapi.h needs windows.h first.
#include <setupapi.h>

struct SetupApiCalls {
  decltype(&::SetupDiGetClassDevsW) GetClassDevsW;
  decltype(&::SetupDiEnumDeviceInfo) EnumDeviceInfo;
  decltype(&::SetupDiGetDeviceRegistryPropertyW) GetDeviceRegistryPropertyW;
  decltype(&::SetupDiOpenDevRegKey) OpenDevRegKey;
  // RegQueryValueExW and RegCloseKey on the key OpenDevRegKey gave.
  LSTATUS(WINAPI* QueryDeviceKeyValue)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
  LSTATUS(WINAPI* CloseDeviceKey)(HKEY);
  decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList;
};

extern SetupApiCalls g_setupApi;
extern const SetupApiCalls kSystemSetupApi;

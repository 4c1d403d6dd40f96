// The program's entry: everything happens in PalvoMain (startup.cpp).
#include "platform/win32/safe_loading.h"
#include "ui/ui.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
#ifndef _WIN32_WCE
  RestrictDllSearch();
#endif
  return PalvoMain(instance);
}

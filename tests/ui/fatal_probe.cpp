// Starts the window program in a way that makes start-up fail: "register"
// takes the window class first, "wbase" refuses the main window. The fatal
// message must end the process with 0; getting past start-up returns 3.
#include <cwchar>

#include "ui/ui.h"

static LRESULT CALLBACK RefuseMainWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    WCHAR name[16] = {};
    GetClassNameW(reinterpret_cast<HWND>(wParam), name, 16);
    if (std::wcscmp(name, kClassName) == 0) return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

int wmain(int argc, wchar_t** argv) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  if (argc > 1 && std::wcscmp(argv[1], L"register") == 0) {
    WNDCLASSW taken = {};
    taken.lpfnWndProc = DefWindowProcW;
    taken.hInstance = self;
    taken.lpszClassName = kClassName;
    RegisterClassW(&taken);
  } else {
    SetWindowsHookExW(WH_CBT, RefuseMainWindow, nullptr, GetCurrentThreadId());
  }
  StartUp(self);
  return 3;
}

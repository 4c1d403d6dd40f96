// A stand-in "aygshell.dll" for the tests: SHCreateMenuBar makes a toolbar at
// the bottom of the parent and keeps the menu it is given for its button.
#include "ui/commandbar.h"

namespace {
WNDPROC g_toolbarProc = nullptr;

LRESULT CALLBACK MenuBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SHCMBM_SETSUBMENU) {
    SetPropW(bar, L"PalvoTestSubMenu", reinterpret_cast<HANDLE>(lParam));
    return TRUE;
  }
  return CallWindowProcW(g_toolbarProc, bar, message, wParam, lParam);
}
}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI SHCreateMenuBar(SHMENUBARINFO* info) {
  InitCommonControls();
  HWND bar = CreateWindowExW(
      0, TOOLBARCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, info->hwndParent,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(info->nToolBarId)), info->hInstRes, nullptr);
  if (!bar) return FALSE;
  SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  g_toolbarProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MenuBarProc)));
  info->hwndMB = bar;
  return TRUE;
}

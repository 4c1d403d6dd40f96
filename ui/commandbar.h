// The handheld's command bar calls and the Pocket PC shell's menu bar
// declarations, for desktop Windows, where neither exists. The command bar is
// a toolbar of the common controls: its menu is a drop-down button that shows
// the menu's first popup, and its close box a button that closes the parent.
#pragma once

#include "platform/win32.h"

HWND CommandBar_Create(HINSTANCE instance, HWND parent, int id);
// Puts menu menuId's first popup behind a drop-down button at position button.
BOOL CommandBar_InsertMenubar(HWND bar, HINSTANCE instance, WORD menuId, WORD button);
// With a null instance, bitmap is a bitmap handle (as the handheld allows).
int CommandBar_AddBitmap(HWND bar, HINSTANCE instance, UINT_PTR bitmap, int images, int width,
                         int height);
BOOL CommandBar_AddAdornments(HWND bar, DWORD flags, DWORD reserved);
int CommandBar_Height(HWND bar);

// The command the close box sends to the bar (it closes the parent).
constexpr int kCloseBoxCommand = SC_CLOSE;

// "aygshell.dll": SHCreateMenuBar and the message that gives a menu bar
// button its menu.
struct SHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;
  HINSTANCE hInstRes;
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;
};
typedef BOOL(WINAPI* SHCreateMenuBarProc)(SHMENUBARINFO* info);
constexpr UINT SHCMBM_SETSUBMENU = WM_USER + 400;

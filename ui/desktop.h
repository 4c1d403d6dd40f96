// What the main window does differently on desktop Windows: a frame the user
// sizes and closes, the display's DPI, a size and place kept per user, and the
// list's desktop manners. The handheld build keeps its fixed window: there
// each of these is its plain equivalent.
#pragma once

#include "platform/win32.h"

#ifdef _WIN32_WCE

constexpr DWORD kMainWindowStyle = WS_CLIPCHILDREN;
inline HMODULE LoadShellLibrary() { return LoadLibraryW(L"aygshell.dll"); }
inline void ReadWindowDpi(HWND) {}
inline int ScaleToDpi(int pixels) { return pixels; }
inline int UnscaleFromDpi(int pixels) { return pixels; }
inline int SmallIconSize() { return 16; }
inline int PlaceMainWindow(HWND) { return SW_SHOWNORMAL; }
inline void SetUpListManners(HWND) {}
inline bool RememberedColumnWidth(int, int*) { return false; }
inline void RememberWindowState(HWND) {}
inline bool DesktopWindowMessage(HWND, UINT, WPARAM, LPARAM, LRESULT*) { return false; }

#else

constexpr DWORD kMainWindowStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

// A desktop has no handheld shell: nothing is loaded, so no "aygshell.dll"
// planted in the current folder or on PATH can run. Tests name a stand-in
// by its full path here to drive the handheld's menu bar.
extern const WCHAR* g_shellStandIn;
HMODULE LoadShellLibrary();

// The main window's DPI (96 until read), and sizes of the handheld's 96 DPI
// screen in it.
void ReadWindowDpi(HWND window);
int ScaleToDpi(int pixels);
int UnscaleFromDpi(int pixels);
int SmallIconSize();

// Before the window is shown: the size and place it had when it last closed,
// kept on a monitor that is there now. Returns the ShowWindow command.
int PlaceMainWindow(HWND window);
void SetUpListManners(HWND list);
// The width (at this DPI) the user left a column at, if one is kept.
bool RememberedColumnWidth(int column, int* width);
// Keeps the window's size, place and column widths (HKCU\Software\Palvo).
void RememberWindowState(HWND window);
// Forgets them: the next start opens at the system's default.
void ForgetWindowState();

// The main window's messages the desktop adds (minimum size, DPI changes,
// the focus kept on the list, the list's keys and double-click): true when handled, with its
// result.
bool DesktopWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

#endif

// The desktop's main window: DPI, kept size and place, minimum size and the
// list's manners (ui/desktop.h).
#include "ui/desktop.h"

#include <algorithm>

#include "ui/commandbar.h"
#include "ui/resource.h"
#include "ui/ui.h"

const WCHAR* g_shellStandIn = nullptr;

namespace {

constexpr int kBaseDpi = 96;
constexpr int kColumns = 3;
int g_dpi = kBaseDpi;

// Per-monitor DPI calls of Windows 10 (1607): looked up, so that the program
// still starts on Windows 7 and 8, where the system DPI is the only one.
using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiProc = int(WINAPI*)(int, UINT);
using AdjustWindowRectExForDpiProc = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

template <typename Proc>
Proc UserProc(const char* name) {
  return reinterpret_cast<Proc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// Kept beside the PIN's key; sizes in pixels at WindowDpi, column widths at
// 96 DPI, so that either follows a change of the display's scale.
constexpr WCHAR kStateKey[] = L"Software\\Palvo";
constexpr const WCHAR* kPlaceValues[] = {L"WindowLeft",   L"WindowTop", L"WindowWidth",
                                         L"WindowHeight", L"WindowDpi", L"WindowMaximized"};
enum { kLeft, kTop, kWidth, kHeight, kSavedDpi, kMaximized, kPlaceCount };
constexpr const WCHAR* kColumnValues[kColumns] = {L"Column0Width", L"Column1Width",
                                                  L"Column2Width"};
// Larger than any screen: a value beyond it was not written by us.
constexpr int kLargest = 100000;

bool ReadValue(const WCHAR* name, int* value) {
  DWORD data = 0;
  DWORD bytes = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, kStateKey, name, RRF_RT_REG_DWORD, nullptr, &data, &bytes) !=
      ERROR_SUCCESS)
    return false;
  *value = static_cast<int>(data);
  return *value > -kLargest && *value < kLargest;
}

void WriteValue(HKEY key, const WCHAR* name, int value) {
  const DWORD data = static_cast<DWORD>(value);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

// The smallest window that still shows the whole bar and a few rows.
SIZE MinimumWindowSize(HWND window) {
  SIZE bar = {};
  SendMessageW(g_bar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&bar));
  RECT r = {0, 0, bar.cx + ScaleToDpi(8), CommandBar_Height(g_bar) + ScaleToDpi(96)};
  const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  if (auto adjust = UserProc<AdjustWindowRectExForDpiProc>("AdjustWindowRectExForDpi"))
    adjust(&r, style, FALSE, 0, static_cast<UINT>(g_dpi));
  else
    AdjustWindowRectEx(&r, style, FALSE, 0);
  return {r.right - r.left, r.bottom - r.top};
}

void SelectAllRows(HWND list) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
}

// Enter and a double-click on a row download the selection as the toolbar's
// button does; posted, so that the list has finished with the key or click
// before the save dialog opens.
bool OnListNotify(HWND window, const NMHDR* header) {
  if (header->hwndFrom != g_listView) return false;
  switch (header->code) {
    case LVN_KEYDOWN: {
      const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey;
      if (key == 'A' && GetKeyState(VK_CONTROL) < 0) SelectAllRows(g_listView);
      if (key == VK_RETURN) PostMessageW(window, WM_COMMAND, IDC_DOWNLOAD, 0);
      return true;  // Delete, among others, does nothing
    }
    case NM_DBLCLK:
      if (reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem >= 0)
        PostMessageW(window, WM_COMMAND, IDC_DOWNLOAD, 0);
      return true;
  }
  return false;
}

// The window moved to a display of another scale: the size Windows suggests,
// the columns and the images follow.
void OnDpiChanged(HWND window, int dpi, const RECT* suggested) {
  const int old = g_dpi;
  g_dpi = dpi;
  for (int i = 0; i < kColumns; ++i) {
    const int width = static_cast<int>(SendMessageW(g_listView, LVM_GETCOLUMNWIDTH, i, 0));
    SendMessageW(g_listView, LVM_SETCOLUMNWIDTH, i, MulDiv(width, dpi, old));
  }
  HIMAGELIST old_images = reinterpret_cast<HIMAGELIST>(SendMessageW(
      g_listView, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(CreateListImages())));
  if (old_images) ImageList_Destroy(old_images);
  const int size = SmallIconSize();
  HBITMAP bitmap = DrawToolbarBitmap(window);
  HIMAGELIST toolbar = ImageList_Create(size, size, ILC_COLOR32, 3, 0);
  ImageList_Add(toolbar, bitmap, nullptr);
  DeleteObject(bitmap);
  SendMessageW(g_bar, TB_SETBITMAPSIZE, 0, MAKELONG(size, size));
  SendMessageW(g_bar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbar));
  SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

HMODULE LoadShellLibrary() {
  if (!g_shellStandIn) return nullptr;
  return LoadLibraryExW(g_shellStandIn, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void ReadWindowDpi(HWND window) {
  g_dpi = 0;
  if (auto forWindow = UserProc<GetDpiForWindowProc>("GetDpiForWindow"))
    g_dpi = static_cast<int>(forWindow(window));
  if (g_dpi <= 0) {
    HDC dc = GetDC(window);
    g_dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(window, dc);
  }
  if (g_dpi <= 0) g_dpi = kBaseDpi;
}

int ScaleToDpi(int pixels) { return MulDiv(pixels, g_dpi, kBaseDpi); }
int UnscaleFromDpi(int pixels) { return MulDiv(pixels, kBaseDpi, g_dpi); }

int SmallIconSize() {
  if (auto metrics = UserProc<GetSystemMetricsForDpiProc>("GetSystemMetricsForDpi"))
    return metrics(SM_CXSMICON, static_cast<UINT>(g_dpi));
  return ScaleToDpi(16);
}

int PlaceMainWindow(HWND window) {
  int v[kPlaceCount];
  for (int i = 0; i < kPlaceCount; ++i)
    if (!ReadValue(kPlaceValues[i], &v[i])) return SW_SHOWNORMAL;
  if (v[kSavedDpi] <= 0) return SW_SHOWNORMAL;
  // The size at today's scale, never below a usable one.
  int width = std::max(MulDiv(v[kWidth], g_dpi, v[kSavedDpi]), ScaleToDpi(240));
  int height = std::max(MulDiv(v[kHeight], g_dpi, v[kSavedDpi]), ScaleToDpi(160));
  int left = v[kLeft];
  int top = v[kTop];
  // The caption must lie on a monitor that is there now (one may have been
  // unplugged), else the window goes to the middle of the one it opened on.
  POINT caption = {left + width / 2, top + ScaleToDpi(8)};
  HMONITOR monitor = MonitorFromPoint(caption, MONITOR_DEFAULTTONULL);
  const bool visible = monitor != nullptr;
  if (!visible) monitor = MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  GetMonitorInfoW(monitor, &info);
  const RECT& work = info.rcWork;
  width = std::min<int>(width, work.right - work.left);
  height = std::min<int>(height, work.bottom - work.top);
  if (!visible) {
    left = work.left + (work.right - work.left - width) / 2;
    top = work.top + (work.bottom - work.top - height) / 2;
  }
  SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  return v[kMaximized] ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
}

void SetUpListManners(HWND list) {
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

bool RememberedColumnWidth(int column, int* width) {
  int kept = 0;
  if (column < 0 || column >= kColumns || !ReadValue(kColumnValues[column], &kept) || kept <= 0)
    return false;
  *width = ScaleToDpi(kept);
  return true;
}

void RememberWindowState(HWND window) {
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kStateKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  // The restored size, also of a window closed while maximised or minimised.
  WINDOWPLACEMENT place = {};
  place.length = sizeof place;
  RECT r;
  GetWindowRect(window, &r);
  if (GetWindowPlacement(window, &place) && (IsZoomed(window) || IsIconic(window)))
    r = place.rcNormalPosition;
  const int v[kPlaceCount] = {r.left,           r.top, r.right - r.left,
                              r.bottom - r.top, g_dpi, IsZoomed(window) ? 1 : 0};
  for (int i = 0; i < kPlaceCount; ++i) WriteValue(key, kPlaceValues[i], v[i]);
  for (int i = 0; g_listView && i < kColumns; ++i) {
    const int width = static_cast<int>(SendMessageW(g_listView, LVM_GETCOLUMNWIDTH, i, 0));
    WriteValue(key, kColumnValues[i], UnscaleFromDpi(width));
  }
  RegCloseKey(key);
}

void ForgetWindowState() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kStateKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
  for (const WCHAR* name : kPlaceValues) RegDeleteValueW(key, name);
  for (const WCHAR* name : kColumnValues) RegDeleteValueW(key, name);
  RegCloseKey(key);
}

bool DesktopWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                          LRESULT* result) {
  switch (message) {
    case WM_GETMINMAXINFO: {
      if (!g_bar) return false;  // still being made
      const SIZE least = MinimumWindowSize(window);
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize.x = least.cx;
      info->ptMinTrackSize.y = least.cy;
      *result = 0;
      return true;
    }
    case WM_DPICHANGED:
      if (!g_listView) return false;
      OnDpiChanged(window, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      *result = 0;
      return true;
    case WM_SETFOCUS:
      // Back from a dialog or another program, the keys go to the list.
      if (!g_listView) return false;
      SetFocus(g_listView);
      *result = 0;
      return true;
    case WM_NOTIFY:
      if (!OnListNotify(window, reinterpret_cast<const NMHDR*>(lParam))) return false;
      *result = 0;
      return true;
  }
  return false;
}

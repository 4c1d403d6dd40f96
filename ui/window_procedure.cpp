// The main window's procedure: close, get listing, download and upload, and
// the list kept under the command bar.
#include "commands/commands.h"
#include "ui/commandbar.h"
#include "ui/desktop.h"
#include "ui/resource.h"
#include "ui/ui.h"

namespace {

LRESULT OnSize(HWND window, WPARAM wParam, LPARAM lParam) {
  // The Pocket PC menu bar lies outside the window; nothing to keep clear.
  if (g_shell || !g_listView) return DefWindowProcW(window, WM_SIZE, wParam, lParam);
  const int h = CommandBar_Height(g_bar);
  MoveWindow(g_listView, 0, h, LOWORD(lParam), HIWORD(lParam) - h, TRUE);
  return 0;
}

LRESULT OnCommand(HWND window, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case IDC_CLOSE:
      DestroyWindow(window);
      break;
    case IDC_GET_LISTING:
      GetListingCommand();
      break;
    case IDC_DOWNLOAD:
      DownloadCommand();
      break;
    case IDC_UPLOAD:
      UploadCommand();
      break;
  }
  // Other ids (the menu bar's own button among them) end here too.
  return 0;
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (DesktopWindowMessage(window, message, wParam, lParam, &result)) return result;
  switch (message) {
    case WM_DESTROY:
      // Every way of closing (the menu, Alt+F4, the bar's and the caption's
      // close boxes) ends here.
      RememberWindowState(window);
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      return OnSize(window, wParam, lParam);
    case WM_COMMAND:
      return OnCommand(window, wParam);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

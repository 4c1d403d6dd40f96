// The status box (one line in a small box in the middle of the screen) and
// the fatal start-up message: the window program's ShowStatus.
#include <cwchar>

#include "link/frontend.h"
#include "link/messages.h"
#include "ui/resource.h"
#include "ui/ui.h"

namespace {
constexpr DWORD kResultMs = 1500;
}

void ShowStatus(const WCHAR* text, int mode) {
  if (!text || !text[0]) {
    if (g_statusBox) {
      DestroyWindow(g_statusBox);
      g_statusBox = nullptr;
    }
    return;
  }
  if (!g_statusBox) {
    HRSRC found = FindResourceW(g_instance, MAKEINTRESOURCEW(IDD_STATUS), RT_DIALOG);
    HGLOBAL loaded = LoadResource(g_instance, found);
    g_statusBox = CreateDialogIndirectParamW(g_instance,
                                             static_cast<const DLGTEMPLATE*>(LockResource(loaded)),
                                             g_mainWindow, nullptr, 0);
  }
  // A local file or port the step could not use is named after the message.
  static WCHAR named[kPathUnits + 64];
  if (g_problemPath[0] &&
      (std::wcscmp(text, MSG_CANNOT_WRITE) == 0 || std::wcscmp(text, MSG_OPEN_FAILED) == 0 ||
       std::wcscmp(text, MSG_NOT_A_PORT) == 0)) {
    std::swprintf(named, sizeof named / sizeof named[0], L"%ls: %ls", text, g_problemPath);
    text = named;
  }
  SetDlgItemTextW(g_statusBox, IDC_STATUS_TEXT, text);
  ShowWindow(g_statusBox, SW_SHOW);
  // No message loop runs while an operation is under way: paint now.
  UpdateWindow(g_statusBox);
  if (mode == kKeepOpenMode) return;
  Sleep(kResultMs);
  DestroyWindow(g_statusBox);
  g_statusBox = nullptr;
}

// Transfers run on the UI thread and the box is one line: no progress shown.
void ShowProgress(std::uint64_t, std::uint64_t) {}

void FatalStartupMessage(const WCHAR* text) {
  MessageBoxW(g_mainWindow, text, kTitle, MB_OK | MB_ICONSTOP);
  ExitProcess(0);
}

// PIN entry in the window program: dialog 115, a single masked edit; Enter
// confirms and Esc cancels.
#include "link/pin_dialog.h"

#include <cwchar>

#include "link/frontend.h"
#include "link/state.h"

INT_PTR CALLBACK PinDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetFocus(GetDlgItem(dialog, IDC_PIN_EDIT));
    return FALSE;  // the focus is set
  }
  if (message != WM_COMMAND) return FALSE;
  if (wParam == IDOK) {
    WCHAR text[kPathUnits];
    GetDlgItemTextW(dialog, IDC_PIN_EDIT, text, kPathUnits);
    // Not range-checked here: the log-in sends it modulo 10000.
    g_currentPin = std::wcstoul(text, nullptr, 10);
    EndDialog(dialog, 1);
    return TRUE;
  }
  if (wParam == IDCANCEL) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  return FALSE;
}

int AskPin(HWND owner) {
  HINSTANCE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(IDD_PIN), RT_DIALOG);
  HGLOBAL loaded = LoadResource(self, found);
  const INT_PTR result = DialogBoxIndirectParamW(
      self, static_cast<const DLGTEMPLATE*>(LockResource(loaded)), owner, PinDialogProc, 0);
  // -1: the dialog could not be shown, so nobody confirmed anything.
  return result == 1 ? 1 : 0;
}

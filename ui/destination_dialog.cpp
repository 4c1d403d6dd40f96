// The upload destination dialog: what the chosen file is for the handset (a
// file under an editable name, the bookmarks, the address book or a mail),
// with the category that the name's extension selects shown beside it.
#include "commands/commands.h"
#include "download/category.h"
#include "ui/resource.h"
#include "ui/ui.h"
#include "upload/upload.h"

namespace {

// Combo box order; the dialog's result is the index plus one.
constexpr const WCHAR* kKinds[] = {L"ファイル", L"ブックマーク", L"アドレス帳", L"メール"};
constexpr int kComboDroppedHeight = 200;

void InitDialog(HWND dialog, WCHAR* name) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(name));
  for (const WCHAR* kind : kKinds)
    SendDlgItemMessageW(dialog, IDC_KIND_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kind));
  HWND combo = GetDlgItem(dialog, IDC_KIND_COMBO);
  RECT r;
  GetWindowRect(combo, &r);
  SetWindowPos(combo, nullptr, 0, 0, r.right - r.left, kComboDroppedHeight,
               SWP_NOMOVE | SWP_NOZORDER);
  SendDlgItemMessageW(dialog, IDC_KIND_COMBO, CB_SETCURSEL,
                      static_cast<WPARAM>(DefaultUploadKind(name) - 1), 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_KIND_COMBO, CBN_SELCHANGE), 0);
  // Its EN_CHANGE fills the category label.
  SetDlgItemTextW(dialog, IDC_NAME_EDIT, name);
}

void OnNameChange(HWND dialog) {
  WCHAR text[kPathUnits];
  GetDlgItemTextW(dialog, IDC_NAME_EDIT, text, kPathUnits);
  SetDlgItemTextW(dialog, IDC_CATEGORY_LABEL, kCategories[CategoryOfName(text)].label);
}

void OnKindChange(HWND dialog) {
  const bool file = SendDlgItemMessageW(dialog, IDC_KIND_COMBO, CB_GETCURSEL, 0, 0) == 0;
  EnableWindow(GetDlgItem(dialog, IDC_NAME_EDIT), file);
  ShowWindow(GetDlgItem(dialog, IDC_CATEGORY_LABEL), file ? SW_SHOWNA : SW_HIDE);
}

void OnOk(HWND dialog) {
  const LRESULT index = SendDlgItemMessageW(dialog, IDC_KIND_COMBO, CB_GETCURSEL, 0, 0);
  WCHAR* name = reinterpret_cast<WCHAR*>(GetWindowLongPtrW(dialog, DWLP_USER));
  GetDlgItemTextW(dialog, IDC_NAME_EDIT, name, kPathUnits);
  EndDialog(dialog, index + 1);
}

}  // namespace

INT_PTR CALLBACK DestinationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    InitDialog(dialog, reinterpret_cast<WCHAR*>(lParam));
    return 0;
  }
  if (message != WM_COMMAND) return 0;
  switch (LOWORD(wParam)) {
    case IDOK:
      OnOk(dialog);
      return 1;
    case IDCANCEL:
      EndDialog(dialog, kUploadCancel);
      return 1;
    case IDC_NAME_EDIT:
      if (HIWORD(wParam) == EN_CHANGE) OnNameChange(dialog);
      return 0;
    case IDC_KIND_COMBO:
      if (HIWORD(wParam) == CBN_SELCHANGE) OnKindChange(dialog);
      return 0;
  }
  return 0;
}

int RunDestinationDialog(WCHAR* name) {
  HRSRC found = FindResourceW(g_instance, MAKEINTRESOURCEW(IDD_DESTINATION), RT_DIALOG);
  HGLOBAL loaded = LoadResource(g_instance, found);
  return static_cast<int>(
      DialogBoxIndirectParamW(g_instance, static_cast<const DLGTEMPLATE*>(LockResource(loaded)),
                              g_mainWindow, DestinationDialogProc, reinterpret_cast<LPARAM>(name)));
}

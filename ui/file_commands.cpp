// The download and upload commands: their file dialogs around the logic that
// the command line shares (commands/commands.h).
#include <cwchar>

#include "commands/commands.h"
#include "link/messages.h"
#include "ui/ui.h"

namespace {

constexpr std::size_t kReportTextUnits = 25000;

// The dialog opens in the folder of the last pick; at the first one there is
// none. The last path stays cut even if the user then cancels.
void PrepareDialog(OPENFILENAMEW* dialog, WCHAR* name, const WCHAR* title, DWORD flags) {
  *dialog = {};
  dialog->lStructSize = sizeof *dialog;
  dialog->hwndOwner = g_mainWindow;
  dialog->lpstrFile = name;
  dialog->nMaxFile = kPathUnits;
  dialog->lpstrTitle = title;
  dialog->Flags = flags;
  if (CutLastPathToFolder()) dialog->lpstrInitialDir = g_lastPath;
}

}  // namespace

void DownloadCommand() {
  WCHAR name[kPathUnits];
  bool several = false;
  if (!ProposeDownloadName(name, &several)) return;
  OPENFILENAMEW dialog;
  PrepareDialog(&dialog, name, L"保存するファイル", OFN_OVERWRITEPROMPT);
  if (!GetSaveFileNameW(&dialog)) return;
  StoreDownloadDestination(name, several);
  RunDownload();
  // Rows saved under other names, or not at all: the status box holds one
  // line for a moment, so the list goes in a message box of its own.
  bool notSaved = false;
  if (const WCHAR* lines = RenamedRowsText(&notSaved)) {
    static WCHAR text[kReportTextUnits];
    std::wcsncpy(text, notSaved ? MSG_NOT_SAVED : MSG_SAVED_AS, kReportTextUnits - 1);
    std::wcsncat(text, L"\n\n", kReportTextUnits - 1 - std::wcslen(text));
    std::wcsncat(text, lines, kReportTextUnits - 1 - std::wcslen(text));
    MessageBoxW(g_mainWindow, text, kTitle,
                MB_OK | (notSaved ? MB_ICONWARNING : MB_ICONINFORMATION));
  }
}

void UploadCommand() {
  if (!g_connected) return;
  WCHAR name[kPathUnits];
  name[0] = 0;
  OPENFILENAMEW dialog;
  PrepareDialog(&dialog, name, L"転送するファイル", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
  if (!GetOpenFileNameW(&dialog)) return;
  StoreUploadSource(name, name);
  const int kind = RunDestinationDialog(name);
  // Only the four kinds upload; a dialog that could not run (-1) is no choice.
  if (kind < kUploadFile || kind > kUploadMail) return;
  RunUpload(static_cast<UploadKind>(kind), name);
}

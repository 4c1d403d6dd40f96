// The download and upload commands: their file dialogs around the logic that
// the command line shares (commands/commands.h).
#include "commands/commands.h"
#include "ui/ui.h"

namespace {

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

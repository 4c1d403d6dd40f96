// The download and upload commands' steps around the front ends' dialogs.
#include <cstdio>
#include <cwchar>

#include "commands/backup.h"
#include "commands/commands.h"
#include "download/category.h"
#include "download/download.h"
#include "download/local_names.h"
#include "link/messages.h"

namespace {

constexpr const WCHAR kOverwriteHere[] = L"(ここに上書き)";

void CopyPath(WCHAR* dst, const WCHAR* src) {
  std::wcsncpy(dst, src, kPathUnits - 1);
  dst[kPathUnits - 1] = 0;
}

bool IsSelected(int row) {
  return (SendMessageW(g_listView, LVM_GETITEMSTATE, static_cast<WPARAM>(row), LVIS_SELECTED) &
          LVIS_SELECTED) != 0;
}

// The one selected row: the one at the selection mark, as the window keeps
// it; when the mark is elsewhere (or on no row, as after a selection made by
// program) the first selected row, so the name proposed is the row that is
// downloaded.
int SingleSelectedRow() {
  const int mark = static_cast<int>(SendMessageW(g_listView, LVM_GETSELECTIONMARK, 0, 0));
  if (mark >= 0 && IsSelected(mark)) return mark;
  const int count = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    if (IsSelected(row)) return row;
  }
  return -1;
}

struct UploadRequest {
  UploadKind kind;
  const WCHAR* name;
};

Message UploadTransfer(void* context) {
  const UploadRequest* request = static_cast<const UploadRequest*>(context);
  return UploadAndRelist(request->kind, g_lastPath, request->name);
}

}  // namespace

bool CutLastPathToFolder() {
  WCHAR* slash = std::wcsrchr(g_lastPath, L'\\');
  if (!slash) return false;
  slash[1] = 0;
  return true;
}

bool ProposeDownloadName(WCHAR name[kPathUnits], bool* several) {
  if (!g_connected) return false;
  const int selected = static_cast<int>(SendMessageW(g_listView, LVM_GETSELECTEDCOUNT, 0, 0));
  if (selected <= 0) return false;
  *several = selected > 1;
  name[0] = 0;
  if (selected == 1) {
    const int row = SingleSelectedRow();
    if (row < 0) return false;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = row;
    item.pszText = name;
    item.cchTextMax = kPathUnits;
    SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    // The control may answer with a pointer to its own copy of the text.
    if (item.pszText && item.pszText != name) CopyPath(name, item.pszText);
    name[kPathUnits - 1] = 0;
    // Mail goes into numbered files of its own: a folder is asked for.
    if (item.iImage == kIconMail) *several = true;
  }
  if (*several) CopyPath(name, kOverwriteHere);
  return true;
}

void StoreDownloadDestination(const WCHAR* chosen, bool several) {
  CopyPath(g_lastPath, chosen);
  if (!several) return;
  // Each row then goes into the folder under its own name. A choice without
  // any folder names none: an empty path, rather than one file for all rows.
  if (!CutLastPathToFolder()) g_lastPath[0] = 0;
}

Message RunDownload() { return RunOperation(&BackupDownloadTransfer, nullptr, true); }

namespace {

constexpr std::size_t kReportUnits = 24576;
WCHAR g_report[kReportUnits];

struct ReportText {
  std::size_t n = 0;
  void Add(const WCHAR* text, bool handset = false) {
    for (; *text && n + 1 < kReportUnits; ++text)
      g_report[n++] = handset && (*text < 0x20 || *text == 0x7F) ? L'?' : *text;
    g_report[n] = 0;
  }
};

}  // namespace

const WCHAR* RenamedRowsText(bool* notSaved) {
  *notSaved = AnyRowNotSaved();
  ReportText text;
  const WCHAR *row, *savedAs;
  for (int i = 0; RenamedRowAt(i, &row, &savedAs); ++i) {
    text.Add(L"  ");
    text.Add(row, true);
    text.Add(L" -> ");
    if (savedAs) {
      text.Add(savedAs, true);
    } else {
      text.Add(L"(");
      text.Add(MSG_ROW_NOT_SAVED);
      text.Add(L")");
    }
    text.Add(L"\n");
  }
  if (const int more = RenamedRowsLeftOut()) {
    WCHAR line[64];
    std::swprintf(line, 64, L"  ... (%d)\n", more);
    text.Add(line);
  }
  return text.n > 0 ? g_report : nullptr;
}

DWORD MakeDestinationFolder(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
  // Mail, addresses and photos are personal: the user's alone.
  if (CreateDirectoryW(path, OwnerOnlySecurity())) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  if (error != ERROR_PATH_NOT_FOUND && error != ERROR_SUCCESS) return error;
  // The folder it would be in is missing too: that one first, as mkdir -p.
  WCHAR parent[kPathUnits];
  CopyPath(parent, path);
  WCHAR* slash = std::wcsrchr(parent, L'\\');
  while (slash && slash > parent && slash[1] == 0) {  // a trailing separator
    *slash = 0;
    slash = std::wcsrchr(parent, L'\\');
  }
  // The root, or a drive's, always exists: nothing above it to make.
  if (!slash || slash == parent || (slash == parent + 2 && parent[1] == L':'))
    return ERROR_PATH_NOT_FOUND;
  *slash = 0;
  error = MakeDestinationFolder(parent);
  if (error != ERROR_SUCCESS) return error;
  if (CreateDirectoryW(path, OwnerOnlySecurity())) return ERROR_SUCCESS;
  error = GetLastError();
  return error == ERROR_SUCCESS ? ERROR_PATH_NOT_FOUND : error;
}

void StoreUploadSource(const WCHAR* chosen, WCHAR name[kPathUnits]) {
  CopyPath(g_lastPath, chosen);
  const WCHAR* slash = std::wcsrchr(g_lastPath, L'\\');
  CopyPath(name, slash ? slash + 1 : g_lastPath);
}

Message RunUpload(UploadKind kind, const WCHAR* name) {
  UploadRequest request = {kind, name};
  return RunOperation(&UploadTransfer, &request, true);
}

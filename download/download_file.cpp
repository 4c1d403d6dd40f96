// The download dispatch over the selected listing rows, and the download of one
// handset file, which arrives as an echo of the request followed by its bytes.
#include <cstring>
#include <cwchar>

#include "download/category.h"
#include "download/download.h"
#include "download/listing.h"
#include "download/local_names.h"
#include "download/transfer.h"
#include "link/messages.h"
#include "link/steps.h"

// Request payload: name (at most 259 bytes), TAB, wire name (at most 5), TAB.
constexpr int kFileRequestBytes = MAX_PATH + 1 + 5 + 1 + 1;

// The row's text (the buffer, or the control's own copy) and its icon,
// selected state and date column.
struct ListedRow {
  WCHAR text[kPathUnits];
  const WCHAR* name;
  int icon;
  bool selected;
  bool dated;
  FILETIME modified;
};

static void ReadRow(int index, ListedRow* row) {
  row->text[0] = 0;
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
  item.iItem = index;
  item.iSubItem = 0;
  item.stateMask = LVIS_SELECTED;
  item.pszText = row->text;
  item.cchTextMax = kPathUnits;
  SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  // The control may hand back its own copy of the text instead of filling ours.
  row->name = item.pszText ? item.pszText : row->text;
  row->icon = item.iImage;
  row->selected = (item.state & LVIS_SELECTED) != 0;
  row->dated = false;
  if (!row->selected || row->icon >= kCategoryCount) return;
  WCHAR date[kPathUnits];
  date[0] = 0;
  LVITEMW column = {};
  column.mask = LVIF_TEXT;
  column.iItem = index;
  column.iSubItem = 2;
  column.pszText = date;
  column.cchTextMax = kPathUnits;
  SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&column));
  row->dated = ListingDateTime(column.pszText ? column.pszText : date, &row->modified);
}

// Puts the name a row is saved under after the folder part of path: its own
// when it can be a local name there, else a replacement, recorded. False
// (recorded as not saved) when no name fits.
static bool PlaceRowName(WCHAR* path, WCHAR* namePos, const WCHAR* text) {
  const std::size_t room = kPathUnits - 1 - static_cast<std::size_t>(namePos - path);
  const std::size_t length = std::wcslen(text);
  if (length <= room && IsLocalName(text)) {
    std::wmemcpy(namePos, text, length + 1);
    return true;
  }
  WCHAR replacement[kPathUnits];
  if (!MakeLocalName(text, room, replacement)) {
    RecordRenamedRow(text, nullptr);
    *namePos = 0;
    return false;
  }
  RecordRenamedRow(text, replacement);
  std::wcscpy(namePos, replacement);
  return true;
}

Message DownloadSelection(WCHAR* path) {
  ClearRenamedRows();
  WCHAR* slash = std::wcsrchr(path, L'\\');
  WCHAR* namePos = (slash && slash[1] == 0) ? slash + 1 : nullptr;  // null: a file destination

  static ListedRow row;
  const int count = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
  const int selected = static_cast<int>(SendMessageW(g_listView, LVM_GETSELECTEDCOUNT, 0, 0));
  for (int i = 0, number = 0; i < count; ++i) {
    ReadRow(i, &row);
    if (!row.selected) continue;
    if (g_stopRequest) return MSG_INTERRUPTED;
    ReportStep(Step::kItem, row.name, ++number, selected);

    // The mail row's text is a placeholder that the mail download replaces;
    // a row that cannot be saved here is passed over, the rest go on.
    if (namePos) {
      if (row.icon >= kCategoryCount) {  // the fixed rows' own file names
        if (static_cast<std::size_t>(namePos - path) + std::wcslen(row.name) > kPathUnits - 1)
          return MSG_CANNOT_WRITE;
        std::wcscpy(namePos, row.name);
      } else if (!PlaceRowName(path, namePos, row.name)) {
        continue;
      }
    }

    Message result;
    switch (row.icon) {
      case kIconBookmarks:
        result = DownloadBookmarks(path);
        break;
      case kIconAddressBook:
        result = DownloadAddressBook(path);
        break;
      case kIconMail:
        result = DownloadMail(path);
        break;
      default:
        result = DownloadFile(path, row.icon, row.name, row.dated ? &row.modified : nullptr);
        break;
    }
    if (result) return result;
  }
  return AnyRowNotSaved() ? MSG_NOT_SAVED : nullptr;
}

Message DownloadFile(const WCHAR* path, int category, const WCHAR* name, const FILETIME* modified) {
  if (category < 0 || category >= kCategoryCount) category = kCategoryCount - 1;  // "other"

  char request[kFileRequestBytes];
  const int converted =
      WideCharToMultiByte(CP_ACP, 0, name, -1, request, MAX_PATH, nullptr, nullptr);
  if (converted <= 0) return MSG_FILE_NOT_FOUND;  // longer than any name the handset lists
  std::size_t r = static_cast<std::size_t>(converted - 1);
  request[r++] = '\t';
  const char* wire = kCategories[category].wireName;
  const std::size_t wireLength = std::strlen(wire);
  std::memcpy(request + r, wire, wireLength);
  r += wireLength;
  request[r++] = '\t';
  request[r] = 0;

  SendRequest(kFileDownload, request);
  const int total = ReceiveResponse(kHeaderOnlyMode);
  // A length field below 4 would make the payload length negative.
  if (total < kHeaderBytes) return MSG_COMM_FILE;
  const std::uint64_t payload = static_cast<std::uint64_t>(total - kHeaderBytes);

  // The echo goes into the payload area; a request is at most 266 bytes.
  const DWORD echo = payload < r ? static_cast<DWORD>(payload) : static_cast<DWORD>(r);
  if (!ReadPortExact(g_packet + kHeaderBytes, echo)) return MSG_COMM_HEADER;
  const bool found = echo == r && std::memcmp(g_packet + kHeaderBytes, request, r) == 0;

  LocalFile file;
  const bool created = found && CreateLocalFile(&file, path);
  // Without a file the content is still read, so the link stays in step.
  const StreamResult streamed =
      StreamFromPort(created ? file.handle : INVALID_HANDLE_VALUE, payload - echo);
  const bool saved = created && FinishLocalFile(&file, streamed == StreamResult::kDone, modified);
  if (streamed == StreamResult::kReadFailed) return MSG_COMM_CONTENT;
  if (!found) return MSG_FILE_NOT_FOUND;
  if (!saved) return MSG_CANNOT_WRITE;
  return nullptr;
}

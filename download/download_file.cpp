// The download dispatch over the selected listing rows, and the download of one
// handset file, which arrives as an echo of the request followed by its bytes.
#include <cstring>
#include <cwchar>
#include <vector>

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
// selected state, item parameter and date column.
struct ListedRow {
  WCHAR text[kPathUnits];
  const WCHAR* name;
  int icon;
  bool selected;
  bool dated;
  LPARAM param;
  FILETIME modified;
};

static void ReadRow(int index, ListedRow* row, bool withDate = true) {
  row->text[0] = 0;
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
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
  row->param = item.lParam;
  row->dated = false;
  if (!withDate || !row->selected || row->icon >= kCategoryCount) return;
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

static bool IsLeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// The text of name bytes that do not decode whole: every character that
// decodes as itself, "_" for each one that does not.
static void DecodeEachCharacter(const char* bytes, std::size_t length, WCHAR out[kPathUnits]) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < length && n < kPathUnits - 1;) {
    const std::size_t take =
        IsLeadByte(static_cast<unsigned char>(bytes[i])) && i + 1 < length ? 2 : 1;
    WCHAR unit[2];
    const int got = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes + i,
                                        static_cast<int>(take), unit, 2);
    // A lead byte without its trail is one undecodable byte: what follows it
    // is a character of its own.
    out[n++] = got == 1 ? unit[0] : L'_';
    i += got == 1 ? take : 1;
  }
  out[n] = 0;
}

// The text a file row's local name starts from: the row's own, or, when its
// name bytes do not decode, those bytes with each undecodable character "_".
// Also the name bytes to ask the handset for (null: convert the text).
static const WCHAR* LocalText(const ListedRow& row, WCHAR buffer[kPathUnits],
                              const ListingEntry** entry) {
  *entry = FindListingEntry(row.param, row.name);
  if (!*entry || (*entry)->decodes) return row.name;
  DecodeEachCharacter(ListingNameBytes(**entry), (*entry)->nameBytes, buffer);
  return buffer;
}

// Which selected rows keep their own name: in list order, the first of the
// run to claim a name keeps it. Then the names of the rows not selected are
// claimed as well, so no replacement takes a name a later download of that
// row would need.
static std::vector<char> g_keepsOwnName;
void (*g_beforeNaming)() = nullptr;
void (*g_rowSaved)(int row, const WCHAR* path) = nullptr;

static void ClaimOwnNames(int count, std::size_t room) {
  BeginRunNames(count);
  if (g_beforeNaming) g_beforeNaming();
  g_keepsOwnName.assign(static_cast<std::size_t>(count), 0);
  static ListedRow row;
  WCHAR buffer[kPathUnits];
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < count; ++i) {
      ReadRow(i, &row, false);
      if (row.icon >= kCategoryCount || row.selected != (pass == 0)) continue;
      const ListingEntry* entry;
      const WCHAR* text = LocalText(row, buffer, &entry);
      if (std::wcslen(text) > room || !IsLocalName(text)) continue;
      if (ClaimRunName(text) && pass == 0) g_keepsOwnName[static_cast<std::size_t>(i)] = 1;
    }
  }
}

// Puts the name a row is saved under after the folder part of path: its own
// when it claimed it, else a replacement, recorded. False (recorded as not
// saved) when no name fits.
static bool PlaceRowName(WCHAR* path, WCHAR* namePos, const WCHAR* shown, const WCHAR* text,
                         bool keepsOwn) {
  const std::size_t room = kPathUnits - 1 - static_cast<std::size_t>(namePos - path);
  if (keepsOwn) {
    std::wcscpy(namePos, text);
    if (std::wcscmp(text, shown) != 0) RecordRenamedRow(shown, text);
    return true;
  }
  WCHAR replacement[kPathUnits];
  if (!MakeLocalName(text, room, replacement)) {
    RecordRenamedRow(shown, nullptr);
    *namePos = 0;
    return false;
  }
  RecordRenamedRow(shown, replacement);
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
  if (namePos) ClaimOwnNames(count, kPathUnits - 1 - static_cast<std::size_t>(namePos - path));
  WCHAR decoded[kPathUnits];
  Message skipped = nullptr;
  for (int i = 0, number = 0; i < count; ++i) {
    ReadRow(i, &row);
    if (!row.selected) continue;
    if (g_stopRequest) return MSG_INTERRUPTED;
    ReportStep(Step::kItem, row.name, ++number, selected);

    const ListingEntry* entry = nullptr;
    const WCHAR* text = row.icon < kCategoryCount ? LocalText(row, decoded, &entry) : row.name;
    // The mail row's text is a placeholder that the mail download replaces;
    // a row that cannot be saved here is passed over, the rest go on.
    if (namePos) {
      if (row.icon >= kCategoryCount) {  // the fixed rows' own file names
        if (static_cast<std::size_t>(namePos - path) + std::wcslen(row.name) > kPathUnits - 1)
          return MSG_CANNOT_WRITE;
        std::wcscpy(namePos, row.name);
      } else if (!PlaceRowName(path, namePos, row.name, text,
                               g_keepsOwnName[static_cast<std::size_t>(i)] != 0)) {
        continue;
      }
    }

    Message result;
    const FILETIME* modified = row.dated ? &row.modified : nullptr;
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
        result = entry ? DownloadFileBytes(path, row.icon, ListingNameBytes(*entry),
                                           entry->nameBytes, modified)
                       : DownloadFile(path, row.icon, row.name, modified);
        break;
    }
    // Items the handset sent unreadable were left out, the rest is in place
    // and the link in step: the other rows still go, the message stays.
    const bool itemsSkipped = result == MSG_BAD_DATA || result == MSG_BAD_BOOKMARK;
    if (result && !itemsSkipped) return result;
    if (itemsSkipped && !skipped) skipped = result;
    if (g_rowSaved) g_rowSaved(i, path);
  }
  if (skipped) return skipped;
  return AnyRowNotSaved() ? MSG_NOT_SAVED : nullptr;
}

Message DownloadFile(const WCHAR* path, int category, const WCHAR* name, const FILETIME* modified) {
  char bytes[MAX_PATH];
  const int converted = WideCharToMultiByte(CP_ACP, 0, name, -1, bytes, MAX_PATH, nullptr, nullptr);
  if (converted <= 0) return MSG_FILE_NOT_FOUND;  // longer than any name the handset lists
  return DownloadFileBytes(path, category, bytes, static_cast<std::size_t>(converted - 1),
                           modified);
}

Message DownloadFileBytes(const WCHAR* path, int category, const char* name, std::size_t length,
                          const FILETIME* modified) {
  if (category < 0 || category >= kCategoryCount) category = kCategoryCount - 1;  // "other"
  if (length >= MAX_PATH) return MSG_FILE_NOT_FOUND;  // longer than any name the handset lists

  char request[kFileRequestBytes];
  std::memcpy(request, name, length);
  std::size_t r = length;
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

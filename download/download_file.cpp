// The download dispatch over the selected listing rows, and the download of one
// handset file, which arrives as an echo of the request followed by its bytes.
#include <cstring>
#include <cwchar>

#include "download/category.h"
#include "download/download.h"
#include "download/transfer.h"
#include "link/messages.h"

// Request payload: name (at most 259 bytes), TAB, wire name (at most 5), TAB.
constexpr int kFileRequestBytes = MAX_PATH + 1 + 5 + 1 + 1;

// Names that Windows opens as devices in any folder ("NUL", "com1.txt").
static bool IsDeviceName(const WCHAR* name) {
  static const WCHAR* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
  static const WCHAR* const kNumbered[] = {L"COM", L"LPT"};
  std::size_t base = 0;
  while (name[base] && name[base] != L'.') ++base;
  for (const WCHAR* device : kDevices) {
    if (base == 3 && _wcsnicmp(name, device, 3) == 0) return true;
  }
  for (const WCHAR* device : kNumbered) {
    if (base == 4 && _wcsnicmp(name, device, 3) == 0 && name[3] >= L'1' && name[3] <= L'9')
      return true;
  }
  return false;
}

// A handset name is written into the chosen folder only when it names a plain
// file there: nothing that climbs out of the folder, names a device, or that
// the file system refuses.
static bool IsPlainFileName(const WCHAR* name) {
  bool onlyDots = true;
  for (const WCHAR* p = name; *p; ++p) {
    if (*p < 0x20 || std::wcschr(L"\\/:*?\"<>|", *p)) return false;
    if (*p != L'.' && *p != L' ') onlyDots = false;
  }
  // Empty, ".", ".." and the like name the folder or its parent.
  return !onlyDots && !IsDeviceName(name);
}

// Puts the row text after the folder part of path. The mail row's text is a
// placeholder that the mail download replaces.
static bool PlaceRowName(WCHAR* path, WCHAR* namePos, const WCHAR* text, bool mailRow) {
  const std::size_t folder = static_cast<std::size_t>(namePos - path);
  const std::size_t length = std::wcslen(text);
  if (folder + length > kPathUnits - 1) return false;
  if (!mailRow && !IsPlainFileName(text)) return false;
  std::wmemcpy(namePos, text, length + 1);
  return true;
}

Message DownloadSelection(WCHAR* path) {
  WCHAR* slash = std::wcsrchr(path, L'\\');
  WCHAR* namePos = (slash && slash[1] == 0) ? slash + 1 : nullptr;  // null: a file destination

  const int count = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    WCHAR text[kPathUnits];
    text[0] = 0;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE;
    item.iItem = i;
    item.iSubItem = 0;
    item.stateMask = LVIS_SELECTED;
    item.pszText = text;
    item.cchTextMax = kPathUnits;
    SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    if (!(item.state & LVIS_SELECTED)) continue;
    // The control may hand back its own copy of the text instead of filling ours.
    const WCHAR* rowText = item.pszText ? item.pszText : text;

    if (namePos && !PlaceRowName(path, namePos, rowText, item.iImage == kIconMail))
      return MSG_CANNOT_WRITE;

    Message result;
    switch (item.iImage) {
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
        result = DownloadFile(path, item.iImage, rowText);
        break;
    }
    if (result) return result;
  }
  return nullptr;
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

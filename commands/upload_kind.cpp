// Which kind of upload a local file name suggests, and the upload command's
// transfer: the upload of the chosen kind followed by a fresh listing.
#include "commands/commands.h"
#include "download/listing.h"
#include "link/messages.h"
#include "platform/backup_names.h"
#include "upload/text_convert.h"
#include "upload/upload.h"

static bool IsDigit(WCHAR c) { return c >= L'0' && c <= L'9'; }

UploadKind DefaultUploadKind(const WCHAR* fileName) {
  if (_wcsicmp(fileName, kBookmarkFileName) == 0) return kUploadBookmarks;
  if (_wcsicmp(fileName, kAddressFileName) == 0) return kUploadAddressBook;
  // mail000.txt .. mail999.txt, the names the mail download writes
  if (_wcsnicmp(fileName, L"mail", 4) == 0 && IsDigit(fileName[4]) && IsDigit(fileName[5]) &&
      IsDigit(fileName[6]) && _wcsicmp(fileName + 7, L".txt") == 0)
    return kUploadMail;
  return kUploadFile;
}

#ifdef _WIN32
// The window's upload of a text file edited as UTF-8 goes up as the
// handset's text too: converted into a file of the user's temporary folder.
static WCHAR s_converted[kPathUnits];

static Message ConvertForWindow(UploadKind kind, const WCHAR** path) {
  s_converted[0] = 0;
  if (kind != kUploadBookmarks && kind != kUploadAddressBook && kind != kUploadMail) return nullptr;
  WCHAR dir[kPathUnits];
  const DWORD n = GetTempPathW(kPathUnits, dir);
  if (n == 0 || n >= kPathUnits || !GetTempFileNameW(dir, L"plv", 0, s_converted)) {
    s_converted[0] = 0;
    return nullptr;  // no room for a copy: the file goes as it is
  }
  bool converted = false;
  const Message m = ConvertUtf8Text(*path, s_converted, &converted);
  if (converted) {
    *path = s_converted;
  } else {
    DeleteFileW(s_converted);
    s_converted[0] = 0;
  }
  return m;
}
#endif

Message UploadAndRelist(UploadKind kind, const WCHAR* path, const WCHAR* name) {
#ifdef _WIN32
  if (const Message m = ConvertForWindow(kind, &path)) return m;
  struct Drop {
    ~Drop() {
      if (s_converted[0]) DeleteFileW(s_converted);
    }
  } drop;
#endif
  Message m;
  switch (kind) {
    case kUploadCancel:
      return MSG_CANCELLED;
    case kUploadBookmarks:
      m = UploadBookmarks(path);
      break;
    case kUploadAddressBook:
      m = UploadAddressBook(path);
      break;
    case kUploadMail:
      m = UploadMail(path);
      break;
    default:
      m = UploadFile(path, name);
      break;
  }
  if (m) return m;
  // The handset's content changed: the old listing no longer holds.
  g_connected = false;
  return FetchListing();
}

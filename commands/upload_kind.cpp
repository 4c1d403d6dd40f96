// Which kind of upload a local file name suggests, and the upload command's
// transfer: the upload of the chosen kind followed by a fresh listing.
#include "commands/commands.h"
#include "download/listing.h"
#include "link/messages.h"
#include "platform/backup_names.h"
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

Message UploadAndRelist(UploadKind kind, const WCHAR* path, const WCHAR* name) {
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

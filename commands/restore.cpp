// A restore: several local files into the handset in one connection, every
// one checked before anything is sent, and a backup folder walked in the
// order get --all wrote it.
#include <cstdio>
#include <cwchar>

#include "commands/commands.h"
#include "download/listing.h"
#include "download/transfer.h"
#include "link/frontend.h"
#include "link/messages.h"
#include "link/steps.h"
#include "platform/backup_names.h"
#include "upload/upload.h"

namespace {

// A message with the name of the file it concerns in front, and the line
// when a check of its lines failed.
WCHAR g_problem[kPathUnits + 64];

const WCHAR* FileNameOf(const UploadItem& item) {
  const WCHAR* slash = std::wcsrchr(item.path, L'\\');
  return slash ? slash + 1 : item.path;
}

Message AboutFile(const UploadItem& item, Message message) {
  const int line = item.kind == kUploadFile ? 0 : CheckedLine();
  if (line > 0) {
    std::swprintf(g_problem, sizeof g_problem / sizeof(WCHAR), L"%ls, line %d: %ls",
                  FileNameOf(item), line, message);
  } else {
    std::swprintf(g_problem, sizeof g_problem / sizeof(WCHAR), L"%ls: %ls", FileNameOf(item),
                  message);
  }
  return g_problem;
}

Message CheckUpload(const UploadItem& item, int* entries) {
  *entries = 0;
  switch (item.kind) {
    case kUploadBookmarks:
      return CheckBookmarkFile(item.path, entries);
    case kUploadAddressBook:
      return CheckAddressFile(item.path, entries);
    case kUploadMail:
      return CheckMailFile(item.path);
    case kUploadFile:
      return CheckFileUpload(item.path, item.name);
    default:
      return MSG_CANCELLED;
  }
}

Message Upload(const UploadItem& item) {
  switch (item.kind) {
    case kUploadBookmarks:
      return UploadBookmarks(item.path);
    case kUploadAddressBook:
      return UploadAddressBook(item.path);
    case kUploadMail:
      return UploadMail(item.path);
    default:
      return UploadFile(item.path, item.name);
  }
}

struct Restore {
  const UploadList* list;
  ReplaceQuestion ask;
  int* declined;
  int count;  // files in the list
};

Message RestoreTransfer(void* context) {
  const Restore& r = *static_cast<const Restore*>(context);
  r.list->rewind(r.list->context);
  UploadItem item;
  for (int number = 1; r.list->next(r.list->context, &item); ++number) {
    if (g_stopRequest) return MSG_INTERRUPTED;
    ReportStep(Step::kItem, FileNameOf(item), number, r.count);
    const bool replacesSet = item.kind == kUploadBookmarks || item.kind == kUploadAddressBook;
    int handsetCount = 0, fileCount = 0;
    if (replacesSet && r.ask) {
      // Asked only now, right before the upload's start request: the
      // handset's set as it stands, the file's as it is checked again.
      const Message check = CheckUpload(item, &fileCount);
      if (check) return AboutFile(item, check);
      const Request count = item.kind == kUploadBookmarks ? kBookmarkCount : kAddressCount;
      if (!QueryCount(count, &handsetCount))
        return AboutFile(
            item, item.kind == kUploadBookmarks ? MSG_COMM_BOOKMARK_COUNT : MSG_COMM_ADDRESS_COUNT);
      if (!r.ask(item, handsetCount, fileCount, false)) {
        ++*r.declined;
        continue;
      }
    }
    if (const Message m = Upload(item)) return AboutFile(item, m);
    if (replacesSet && r.ask) r.ask(item, handsetCount, fileCount, true);
  }
  // The handset's content changed: the old listing no longer holds.
  g_connected = false;
  return FetchListing();
}

}  // namespace

Message RunUploads(const UploadList& list, ReplaceQuestion ask, int* declined) {
  *declined = 0;
  // Every file first: one that does not pass sends nothing at all.
  list.rewind(list.context);
  UploadItem item;
  int entries, count = 0;
  for (; list.next(list.context, &item); ++count) {
    if (const Message m = CheckUpload(item, &entries)) {
      const Message shown = AboutFile(item, m);
      ShowStatus(shown, kResultMode);
      return shown;
    }
  }
  Restore restore = {&list, ask, declined, count};
  const Message m = RunOperation(&RestoreTransfer, &restore, true);
  list.rewind(list.context);  // lets go of what the walk holds
  return m;
}

// ---- a backup folder

namespace {

enum Phase { kBookmarkFile, kAddressFile, kMailFiles, kOtherFiles, kDone };

constexpr int kMaxMailDigits = 6;

// The number of a mail file as the mail download names it ("mail%03d.txt":
// three digits, or more without a leading zero), or -1.
long MailNumber(const WCHAR* name) {
  if (std::wcsncmp(name, L"mail", 4) != 0) return -1;
  int digits = 0;
  long number = 0;
  while (name[4 + digits] >= L'0' && name[4 + digits] <= L'9') {
    if (++digits > kMaxMailDigits) return -1;
    number = number * 10 + (name[3 + digits] - L'0');
  }
  if (digits < 3 || (digits > 3 && name[4] == L'0')) return -1;
  return std::wcscmp(name + 4 + digits, L".txt") == 0 ? number : -1;
}

bool IsRegularFile(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

// The names taken by the first phases, as the file system compares names.
bool IsTakenName(const WCHAR* name) {
#ifdef _WIN32
  WCHAR lower[kPathUnits];
  std::size_t i = 0;
  for (; name[i] && i < kPathUnits - 1; ++i)
    lower[i] = name[i] >= L'A' && name[i] <= L'Z' ? static_cast<WCHAR>(name[i] + 32) : name[i];
  lower[i] = 0;
  name = lower;
#endif
  // The backup's own manifest is no handset file.
  return std::wcscmp(name, kBookmarkFileName) == 0 || std::wcscmp(name, kAddressFileName) == 0 ||
         std::wcscmp(name, kManifestName) == 0 || MailNumber(name) >= 0;
}

bool PlaceName(BackupFolder* f, const WCHAR* name) {
  const std::size_t units = std::wcslen(name);
  if (f->dirUnits + units > kPathUnits - 1) return false;
  std::wmemcpy(f->path, f->dir, f->dirUnits);
  std::wmemcpy(f->path + f->dirUnits, name, units + 1);
  return true;
}

void CloseFind(BackupFolder* f) {
  if (f->find != INVALID_HANDLE_VALUE) FindClose(f->find);
  f->find = INVALID_HANDLE_VALUE;
}

void RewindBackup(void* context) {
  BackupFolder* f = static_cast<BackupFolder*>(context);
  CloseFind(f);
  f->phase = kBookmarkFile;
}

// The highest mail number in the folder, to walk the mail files in order.
long LastMailNumber(BackupFolder* f) {
  long last = -1;
  WIN32_FIND_DATAW found;
  if (!PlaceName(f, L"mail*.txt")) return last;
  HANDLE find = FindFirstFileW(f->path, &found);
  if (find == INVALID_HANDLE_VALUE) return last;
  do {
    const long n = MailNumber(found.cFileName);
    if (n > last) last = n;
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return last;
}

bool NextBackupFile(void* context, UploadItem* item) {
  BackupFolder* f = static_cast<BackupFolder*>(context);
  item->path = f->path;
  item->name = nullptr;
  for (;;) {
    switch (f->phase) {
      case kBookmarkFile:
      case kAddressFile: {
        const bool bookmarks = f->phase == kBookmarkFile;
        if (++f->phase == kMailFiles) {
          f->mailNumber = 0;
          f->lastMail = LastMailNumber(f);
        }
        if (PlaceName(f, bookmarks ? kBookmarkFileName : kAddressFileName) &&
            IsRegularFile(f->path)) {
          item->kind = bookmarks ? kUploadBookmarks : kUploadAddressBook;
          return true;
        }
        break;
      }
      case kMailFiles:
        while (f->mailNumber <= f->lastMail) {
          WCHAR name[24];
          std::swprintf(name, 24, kMailFilePattern, f->mailNumber++);
          if (PlaceName(f, name) && IsRegularFile(f->path)) {
            item->kind = kUploadMail;
            return true;
          }
        }
        ++f->phase;
        break;
      case kOtherFiles: {
        WIN32_FIND_DATAW found;
        bool more;
        if (f->find == INVALID_HANDLE_VALUE) {
          if (!PlaceName(f, L"*")) {
            f->phase = kDone;
            break;
          }
          f->find = FindFirstFileW(f->path, &found);
          more = f->find != INVALID_HANDLE_VALUE;
        } else {
          more = FindNextFileW(f->find, &found) != 0;
        }
        if (!more) {
          CloseFind(f);
          f->phase = kDone;
          break;
        }
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsTakenName(found.cFileName) ||
            IsPartName(found.cFileName) || !PlaceName(f, found.cFileName))
          break;
        item->kind = kUploadFile;
        item->name = f->path + f->dirUnits;
        return true;
      }
      default:
        return false;
    }
  }
}

}  // namespace

bool OpenBackupFolder(BackupFolder* folder, const WCHAR* dir) {
  std::size_t units = std::wcslen(dir);
  if (units + 2 > kPathUnits - 1) return false;
  std::wmemcpy(folder->dir, dir, units + 1);
  if (units == 0 || folder->dir[units - 1] != L'\\') folder->dir[units++] = L'\\';
  folder->dir[units] = 0;
  folder->dirUnits = units;
  folder->find = INVALID_HANDLE_VALUE;
  folder->phase = kDone;
  return true;
}

UploadList BackupFolderList(BackupFolder* folder) {
  return UploadList{&NextBackupFile, &RewindBackup, folder};
}

// A backup folder as a restore walks it: the order get --all wrote it in
// (bookmarks, address book, mail, then the other files), only plain files,
// never palvo's own.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "commands/commands.h"
#include "download/transfer.h"
#include "platform/backup_names.h"
#include "upload/line_reader.h"
#include "upload/upload.h"

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

// What a folder walk never uploads: folders, devices, sockets, links (they
// lead anywhere, /etc included) and hidden files.
constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE |
                            FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN;

bool IsRegularFile(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & kNotPlain);
}

// palvo's own files in a backup folder: never the handset's.
bool IsPalvoName(const WCHAR* name) {
  return _wcsicmp(name, kManifestName) == 0 || _wcsicmp(name, kAtticName) == 0 || IsPartName(name);
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

// A hidden name that get --all saved: its manifest lists it as a saved local
// file (a handset file's own name, which its download keeps).
bool ManifestSaved(const BackupFolder* f, const WCHAR* name) {
  char utf8[kPathUnits * 4], local[kPathUnits * 8];
  if (WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, sizeof utf8, nullptr, nullptr) <= 0)
    return false;
  std::size_t n = 0;
  for (const char* c = utf8; *c; ++c) {  // as the manifest writes a name
    const char escape = *c == '\\'   ? '\\'
                        : *c == '\t' ? 't'
                        : *c == '\r' ? 'r'
                        : *c == '\n' ? 'n'
                                     : 0;
    if (escape) local[n++] = '\\';
    local[n++] = escape ? escape : *c;
  }
  local[n] = 0;
  WCHAR path[kPathUnits];
  const std::size_t manifest = sizeof kManifestName / sizeof(WCHAR);
  if (f->dirUnits + manifest > kPathUnits) return false;
  std::wmemcpy(path, f->dir, f->dirUnits);
  std::wmemcpy(path + f->dirUnits, kManifestName, manifest);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool saved = false;
  ReadLine(nullptr);
  while (const char* line = ReadLine(file)) {
    if (ManifestLineNamesLocal(line, local)) {
      saved = true;
      break;
    }
  }
  ReadLine(nullptr);
  CloseHandle(file);
  return saved;
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
        // A name starting with a dot is hidden where it was made: it goes
        // only when get --all saved it.
        if ((found.dwFileAttributes & kNotPlain) || IsTakenName(found.cFileName) ||
            IsPalvoName(found.cFileName) ||
            (found.cFileName[0] == L'.' && !ManifestSaved(f, found.cFileName)) ||
            !PlaceName(f, found.cFileName))
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

bool ManifestLineNamesLocal(const char* line, const char* local) {
  if (*line == '#') return false;  // the header line
  for (int tabs = 0; tabs < 3; ++line) {
    if (*line == 0 || *line == '\n') return false;
    if (*line == '\t') ++tabs;
  }
  while (*local && *line == *local) ++line, ++local;
  return *local == 0 && *line == '\t';
}

bool IsBackupFolder(const WCHAR* dir) {
  BackupFolder f;
  return OpenBackupFolder(&f, dir) && PlaceName(&f, kManifestName) && IsRegularFile(f.path);
}

UploadList BackupFolderList(BackupFolder* folder) {
  return UploadList{&NextBackupFile, &RewindBackup, folder};
}

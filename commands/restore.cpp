// A restore: several local files into the handset in one connection, every
// one checked before anything is sent, and a backup folder walked in the
// order get --all wrote it.
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "commands/commands.h"
#include "download/download.h"
#include "download/listing.h"
#include "download/transfer.h"
#include "link/frontend.h"
#include "link/messages.h"
#include "link/steps.h"
#include "platform/backup_names.h"
#include "upload/line_reader.h"
#include "upload/text_convert.h"
#include "upload/upload.h"

namespace {

// A message with the name of the file it concerns in front, the line when a
// check of its lines failed, and the character a conversion could not hold.
WCHAR g_problem[kPathUnits + 96];

const WCHAR* FileNameOf(const UploadItem& item) {
  const WCHAR* slash = std::wcsrchr(item.path, L'\\');
  return slash ? slash + 1 : item.path;
}

Message AboutFile(const UploadItem& item, Message message) {
  const int line = item.kind == kUploadFile ? 0 : CheckedLine();
  const int room = sizeof g_problem / sizeof(WCHAR);
  int n = line > 0 ? std::swprintf(g_problem, room, L"%ls, line %d: %ls", FileNameOf(item), line,
                                   message)
                   : std::swprintf(g_problem, room, L"%ls: %ls", FileNameOf(item), message);
  if (message == MSG_CHECK_CHARACTER && n > 0) {
    const WCHAR* c = UnconvertedCharacter();
    unsigned long code = static_cast<unsigned long>(c[0]);
    if (c[0] >= 0xD800 && c[0] <= 0xDBFF && c[1])  // a pair of UTF-16 units
      code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<unsigned long>(c[1]) - 0xDC00);
    std::swprintf(g_problem + n, static_cast<std::size_t>(room - n), L" \"%ls\" (U+%04lX)", c,
                  code);
  }
  return g_problem;
}

bool IsText(UploadKind kind) {
  return kind == kUploadBookmarks || kind == kUploadAddressBook || kind == kUploadMail;
}

// The working files of a restore, in its scratch folder.
WCHAR g_textPath[kPathUnits];  // the UTF-8 file being sent, converted
WCHAR g_mailPath[kPathUnits];  // the handset's mails: "<scratch>mail???.txt" for the download
WCHAR g_onePath[kPathUnits];   // one of them
bool g_haveScratch = false;

bool PlaceScratch(WCHAR* path, const WCHAR* scratch, const WCHAR* name) {
  const std::size_t a = std::wcslen(scratch), b = std::wcslen(name);
  if (a + b > kPathUnits - 1) return false;
  std::wmemcpy(path, scratch, a);
  std::wmemcpy(path + a, name, b + 1);
  return true;
}

// The file that goes up for item: the converted text when it was UTF-8.
// *converted: it was.
Message TextToSend(const UploadItem& item, const WCHAR** path, bool* converted) {
  *path = item.path;
  *converted = false;
  if (!IsText(item.kind) || !g_haveScratch) return nullptr;
  if (const Message m = ConvertUtf8Text(item.path, g_textPath, converted)) return m;
  if (*converted) *path = g_textPath;
  return nullptr;
}

void DropText() {
  if (g_haveScratch) DeleteFileW(g_textPath);
}

Message CheckUpload(const UploadItem& item, const WCHAR* path, int* entries) {
  *entries = 0;
  switch (item.kind) {
    case kUploadBookmarks:
      return CheckBookmarkFile(path, entries);
    case kUploadAddressBook:
      return CheckAddressFile(path, entries);
    case kUploadMail:
      return CheckMailFile(path);
    case kUploadFile:
      return CheckFileUpload(path, item.name);
    default:
      return MSG_CANCELLED;
  }
}

Message Upload(const UploadItem& item, const WCHAR* path) {
  switch (item.kind) {
    case kUploadBookmarks:
      return UploadBookmarks(path);
    case kUploadAddressBook:
      return UploadAddressBook(path);
    case kUploadMail:
      return UploadMail(path);
    default:
      return UploadFile(path, item.name);
  }
}

// ---- what the handset holds already

BYTE g_left[4096], g_right[4096];

// Two local files of the same bytes.
bool SameBytes(const WCHAR* a, const WCHAR* b) {
  HANDLE fa = CreateFileW(a, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (fa == INVALID_HANDLE_VALUE) return false;
  HANDLE fb = CreateFileW(b, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  bool same = fb != INVALID_HANDLE_VALUE;
  while (same) {
    DWORD na = 0, nb = 0;
    if (!ReadFile(fa, g_left, sizeof g_left, &na, nullptr) ||
        !ReadFile(fb, g_right, sizeof g_right, &nb, nullptr) || na != nb ||
        std::memcmp(g_left, g_right, na) != 0) {
      same = false;
    } else if (na == 0) {
      break;
    }
  }
  if (fb != INVALID_HANDLE_VALUE) CloseHandle(fb);
  CloseHandle(fa);
  return same;
}

// The handset's mails, downloaded once per restore into the scratch folder
// as get --all writes them. A mail of the restore that equals one of them is
// there already; each of them answers for one mail only, so a backup holding
// the same mail twice restores both into a handset that has neither.
bool g_mailsRead = false;
bool g_listed = false;  // the listing of this connection was fetched

std::size_t MailFolderUnits() {
  return static_cast<std::size_t>(std::wcsrchr(g_mailPath, L'\\') - g_mailPath) + 1;
}

Message ReadHandsetMails() {
  g_mailsRead = true;
  WCHAR path[kPathUnits];
  std::wmemcpy(path, g_mailPath, kPathUnits);
  const Message m = DownloadMail(path);
  // Mails the handset sent unreadable were left out: the others still count.
  return m == MSG_BAD_DATA ? nullptr : m;
}

bool MailIsThere(const WCHAR* path) {
  const std::size_t dir = MailFolderUnits();
  std::wmemcpy(g_onePath, g_mailPath, dir);
  std::wcscpy(g_onePath + dir, L"mail*.txt");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(g_onePath, &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool there = false;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (dir + std::wcslen(found.cFileName) > kPathUnits - 1) continue;
    std::wcscpy(g_onePath + dir, found.cFileName);
    there = SameBytes(path, g_onePath);
  } while (!there && FindNextFileW(find, &found));
  FindClose(find);
  if (there) DeleteFileW(g_onePath);  // it answers for this mail only
  return there;
}

void DropHandsetMails() {
  if (!g_mailsRead) return;
  g_mailsRead = false;
  const std::size_t dir = MailFolderUnits();
  std::wmemcpy(g_onePath, g_mailPath, dir);
  std::wcscpy(g_onePath + dir, L"mail*.txt");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(g_onePath, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    // Only the download's own names: nothing else in the folder is ours.
    if (DefaultUploadKind(found.cFileName) != kUploadMail) continue;
    if (dir + std::wcslen(found.cFileName) > kPathUnits - 1) continue;
    std::wcscpy(g_onePath + dir, found.cFileName);
    DeleteFileW(g_onePath);
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// An ordinary file the listing shows with the same name, category and exact
// size as the local file.
bool FileIsThere(const UploadItem& item) {
  HANDLE file = CreateFileW(item.path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  CloseHandle(file);
  WCHAR size[32];
  std::swprintf(
      size, 32, L"%llu",
      (static_cast<unsigned long long>(high) << 32) | static_cast<unsigned long long>(low));
  const int category = CategoryOfName(item.name);
  const int rows = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < rows; ++i) {
    WCHAR text[kPathUnits];
    text[0] = 0;
    LVITEMW row = {};
    row.mask = LVIF_TEXT | LVIF_IMAGE;
    row.iItem = i;
    row.pszText = text;
    row.cchTextMax = kPathUnits;
    SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&row));
    const WCHAR* name = row.pszText ? row.pszText : text;
    if (row.iImage != category || std::wcscmp(name, item.name) != 0) continue;
    WCHAR exact[32];
    exact[0] = 0;
    LVITEMW column = {};
    column.mask = LVIF_TEXT;
    column.iItem = i;
    column.iSubItem = kExactSizeColumn;
    column.pszText = exact;
    column.cchTextMax = 32;
    SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&column));
    if (std::wcscmp(column.pszText ? column.pszText : exact, size) == 0) return true;
  }
  return false;
}

// ---- the restore's transfer

struct Restore {
  const UploadList* list;
  const RestoreOptions* options;
  RestoreCounts* counts;
  int count;  // files in the list
};

void Note(const Restore& r, const UploadItem& item, RestoreNote what, Message why) {
  if (r.options->note) r.options->note(item, what, why);
}

// One file: sent, found there already, refused (counted, the restore goes
// on), or a failure that ends the restore (returned).
Message RestoreOne(const Restore& r, const UploadItem& item) {
  const WCHAR* path;
  bool converted;
  if (const Message m = TextToSend(item, &path, &converted)) return AboutFile(item, m);
  if (item.kind == kUploadMail && g_haveScratch) {
    if (!g_mailsRead) {
      if (const Message m = ReadHandsetMails()) return AboutFile(item, m);
    }
    if (MailIsThere(path)) {
      ++r.counts->alreadyThere;
      Note(r, item, kNoteAlreadyThere, nullptr);
      return nullptr;
    }
  }
  if (item.kind == kUploadFile && !r.options->force) {
    // Which ordinary files the handset holds: the listing, once.
    if (!g_listed) {
      g_listed = true;
      if (const Message m = FetchListing()) return m;
    }
    if (FileIsThere(item)) {
      ++r.counts->alreadyThere;
      Note(r, item, kNoteAlreadyThere, nullptr);
      return nullptr;
    }
  }
  const bool replacesSet = item.kind == kUploadBookmarks || item.kind == kUploadAddressBook;
  int handsetCount = 0, fileCount = 0;
  if (replacesSet && r.options->ask) {
    // Asked only now, right before the upload's start request: the
    // handset's set as it stands, the file's as it is checked again.
    if (const Message check = CheckUpload(item, path, &fileCount)) return AboutFile(item, check);
    const Request count = item.kind == kUploadBookmarks ? kBookmarkCount : kAddressCount;
    if (!QueryCount(count, &handsetCount))
      return AboutFile(
          item, item.kind == kUploadBookmarks ? MSG_COMM_BOOKMARK_COUNT : MSG_COMM_ADDRESS_COUNT);
    if (!r.options->ask(item, handsetCount, fileCount, false)) {
      ++r.counts->declined;
      return nullptr;
    }
  }
  if (const Message m = Upload(item, path)) {
    if (!UploadRefused()) return AboutFile(item, m);
    ++r.counts->refused;
    Note(r, item, kNoteRefused, m);
    return nullptr;
  }
  ++r.counts->uploaded;
  Note(r, item, kNoteUploaded, nullptr);
  if (replacesSet && r.options->ask) r.options->ask(item, handsetCount, fileCount, true);
  return nullptr;
}

Message RestoreTransfer(void* context) {
  const Restore& r = *static_cast<const Restore*>(context);
  r.list->rewind(r.list->context);
  g_listed = false;
  UploadItem item;
  for (int number = 1; r.list->next(r.list->context, &item); ++number) {
    if (g_stopRequest) return MSG_INTERRUPTED;
    ReportStep(Step::kItem, FileNameOf(item), number, r.count);
    const Message m = RestoreOne(r, item);
    DropText();
    if (m) return m;
  }
  // The handset's content changed: the old listing no longer holds.
  g_connected = false;
  return FetchListing();
}

}  // namespace

Message RunUploads(const UploadList& list, const RestoreOptions& options, RestoreCounts* counts) {
  *counts = RestoreCounts{};
  g_haveScratch = options.scratch && PlaceScratch(g_textPath, options.scratch, L"text.tmp") &&
                  PlaceScratch(g_mailPath, options.scratch, L"mail???.txt");
  // Every file first: one that does not pass sends nothing at all.
  list.rewind(list.context);
  UploadItem item;
  int entries, count = 0;
  for (; list.next(list.context, &item); ++count) {
    const WCHAR* path;
    bool converted;
    Message m = TextToSend(item, &path, &converted);
    if (!m) m = CheckUpload(item, path, &entries);
    // A set emptied by a file that lost its lines is asked for, never assumed.
    if (!m && entries == 0 && !options.emptySetConfirmed &&
        (item.kind == kUploadBookmarks || item.kind == kUploadAddressBook))
      m = MSG_CHECK_EMPTY_SET;
    DropText();
    if (m) {
      const Message shown = AboutFile(item, m);
      ShowStatus(shown, kResultMode);
      list.rewind(list.context);
      return shown;
    }
    if (converted && options.note) options.note(item, kNoteConverted, nullptr);
  }
  Restore restore = {&list, &options, counts, count};
  const Message m = RunOperation(&RestoreTransfer, &restore, true);
  DropHandsetMails();
  DropText();
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

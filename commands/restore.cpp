// A restore: several local files into the handset in one connection, every
// one checked before anything is sent (the folder it walks for put --all is
// backup_folder.cpp).
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "commands/commands.h"
#include "download/attic.h"
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

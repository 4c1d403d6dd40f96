#include "download/transfer.h"

#include <cwchar>

#include "download/attic.h"
#include "download/field_record.h"
#include "link/frontend.h"
#include "link/messages.h"
#include "platform/backup_names.h"

HANDLE CreateDownloadFile(const WCHAR* path) {
  // Only ever a new file: an existing name (a symlink or device put there
  // included) is never opened, so nothing is written through it.
  HANDLE file =
      CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) return file;
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return file;
  // A part file an earlier run left: the name is the download's own, and
  // deleting removes a link itself, never what it points at.
  if (!DeleteFileW(path)) return INVALID_HANDLE_VALUE;
  return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

namespace {

constexpr std::size_t kPrefixUnits = sizeof kPartPrefix / sizeof(WCHAR) - 1;
constexpr std::size_t kSuffixUnits = sizeof kPartSuffix / sizeof(WCHAR) - 1;
// Of the final name a part name keeps this much: a name of the longest kind
// still leaves room for the prefix and suffix in one path component.
constexpr std::size_t kPartNameUnits = 80;

}  // namespace

bool PartPath(const WCHAR* path, WCHAR part[kPathUnits]) {
  // Both kinds of slash end a folder, on Windows and in the stand-in alike.
  std::size_t folder = 0;
  for (std::size_t i = 0; path[i]; ++i) {
    if (path[i] == L'\\' || path[i] == L'/') folder = i + 1;
  }
  const WCHAR* name = path + folder;
  std::size_t keep = std::wcslen(name);
  if (keep > kPartNameUnits) keep = kPartNameUnits;
  if (folder + kPrefixUnits + kSuffixUnits + 1 > kPathUnits - 1) return false;
  if (folder + kPrefixUnits + keep + kSuffixUnits > kPathUnits - 1)
    keep = kPathUnits - 1 - folder - kPrefixUnits - kSuffixUnits;
  WCHAR* p = part;
  std::wmemcpy(p, path, folder);
  p += folder;
  std::wmemcpy(p, kPartPrefix, kPrefixUnits);
  p += kPrefixUnits;
  std::wmemcpy(p, name, keep);
  p += keep;
  std::wmemcpy(p, kPartSuffix, kSuffixUnits + 1);
  return true;
}

bool IsPartName(const WCHAR* name) {
  const std::size_t n = std::wcslen(name);
  return n >= kPrefixUnits + kSuffixUnits && _wcsnicmp(name, kPartPrefix, kPrefixUnits) == 0 &&
         _wcsicmp(name + n - kSuffixUnits, kPartSuffix) == 0;
}

bool CommitPart(const WCHAR* part, const WCHAR* path) {
#ifdef _WIN32_WCE
  // No MoveFileExW on the handheld: the older file goes first.
  DeleteFileW(path);
  return MoveFileW(part, path) != 0;
#else
  return MoveFileExW(part, path, MOVEFILE_REPLACE_EXISTING) != 0;
#endif
}

// An existing path that is no file on a disk: a device (NUL, a serial port,
// Wine's view of /dev/full) or a folder. Windows gives NUL ordinary attributes
// and Wine gives /dev/full none at all, so there the name is opened and asked
// what it is.
static bool IsNotADiskFile(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_DIRECTORY)) != 0)
    return true;
#if defined(_WIN32) && !defined(_WIN32_WCE)
  HANDLE h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool disk = GetFileType(h) == FILE_TYPE_DISK;
  CloseHandle(h);
  return !disk;
#else
  return false;
#endif
}

// The file being written, for the message of a write that fails.
static WCHAR g_writing[kPathUnits];

bool CreateLocalFile(LocalFile* file, const WCHAR* path) {
  file->path = path;
  file->part[0] = 0;
  std::wcsncpy(g_writing, path, kPathUnits - 1);
  const bool inPlace = IsNotADiskFile(path);
  if (!inPlace && !PartPath(path, file->part)) {
    file->handle = INVALID_HANDLE_VALUE;
    NoteProblem(path, ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  file->handle = inPlace ? CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr)
                         : CreateDownloadFile(file->part);
  if (file->handle == INVALID_HANDLE_VALUE) NoteProblem(path, GetLastError());
  return file->handle != INVALID_HANDLE_VALUE;
}

bool FinishLocalFile(LocalFile* file, bool keep, const FILETIME* modified) {
  if (file->handle == INVALID_HANDLE_VALUE) return false;
  // The date goes on last: a write after it would move it again. A device
  // written in place is no file of the download's: its date is not ours.
  if (keep && modified && file->part[0]) SetFileTime(file->handle, nullptr, nullptr, modified);
  CloseHandle(file->handle);
  file->handle = INVALID_HANDLE_VALUE;
  if (!file->part[0]) return keep;
  // In a backup folder an earlier file with other bytes goes to the attic
  // first; one that cannot go stays, and this download is not kept.
  if (keep && g_atticForFiles && !KeepEarlierFile(file->path, file->part)) keep = false;
  if (keep && CommitPart(file->part, file->path)) return true;
  if (keep) NoteProblem(file->path, GetLastError());
  DeleteFileW(file->part);
  return false;
}

Message ReceiveIntoFile(const WCHAR* path, Message (*receive)(HANDLE file, bool* ranToEnd)) {
  LocalFile file;
  if (!CreateLocalFile(&file, path)) return MSG_CANNOT_WRITE;
  bool whole = false;
  const Message result = receive(file.handle, &whole);
  if (!FinishLocalFile(&file, whole) && whole) return MSG_CANNOT_WRITE;
  return result;
}

bool WriteAll(HANDLE file, const void* data, DWORD n) {
  DWORD written = 0;
  if (WriteFile(file, data, n, &written, nullptr) && written == n) return true;
  // The first failure is the one the user hears of.
  if (!g_problemPath[0]) {
    const DWORD error = GetLastError();
    NoteProblem(g_writing, error != ERROR_SUCCESS ? error : ERROR_DISK_FULL);
  }
  return false;
}

bool ReadCount(const char* text, std::size_t length, int* count) {
  // A count read loosely (a sign, blanks, no digits as 0) would turn a
  // garbled reply into "the handset holds nothing" and cost an earlier backup.
  if (length == 0 || length > 7) return false;
  int value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  if (value > kMaxCount) return false;
  *count = value;
  return true;
}

bool QueryCount(Request request, int* count) {
  SendRequest(request, "");
  const int total = ReceiveResponse(kWholeFrame);
  if (total < kHeaderBytes) return false;
  const int end = total < kMaxFrame ? total : kMaxFrame;
  return ReadCount(ResponsePayload(), static_cast<std::size_t>(end - kHeaderBytes), count);
}

void SendNextItemAck() { SendRequest(kNextItem, "0"); }

StreamResult StreamFromPort(HANDLE file, std::uint64_t n) {
  const std::uint64_t total = n;
  bool writing = file != INVALID_HANDLE_VALUE;
  bool writeFailed = false;
  while (n > 0) {
    const DWORD want = n < kMaxPiece ? static_cast<DWORD>(n) : static_cast<DWORD>(kMaxPiece);
    const long got = ReadPortSome(g_packet, want);
    if (got < 0) return StreamResult::kReadFailed;
    if (writing && !WriteAll(file, g_packet, static_cast<DWORD>(got))) {
      writing = false;
      writeFailed = true;
    }
    n -= static_cast<std::uint64_t>(got);
    ShowProgress(total - n, total);
  }
  return writeFailed ? StreamResult::kWriteFailed : StreamResult::kDone;
}

#include "download/transfer.h"

#include <cwchar>

#include "download/field_record.h"
#include "link/frontend.h"
#include "link/messages.h"
#include "platform/backup_names.h"

HANDLE CreateDownloadFile(const WCHAR* path) {
  return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
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
  file->handle = CreateDownloadFile(inPlace ? path : file->part);
  if (file->handle == INVALID_HANDLE_VALUE) NoteProblem(path, GetLastError());
  return file->handle != INVALID_HANDLE_VALUE;
}

bool FinishLocalFile(LocalFile* file, bool keep, const FILETIME* modified) {
  if (file->handle == INVALID_HANDLE_VALUE) return false;
  // The date goes on last: a write after it would move it again.
  if (keep && modified) SetFileTime(file->handle, nullptr, nullptr, modified);
  CloseHandle(file->handle);
  file->handle = INVALID_HANDLE_VALUE;
  if (!file->part[0]) return keep;
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

bool QueryCount(Request request, int* count) {
  SendRequest(request, "");
  if (ReceiveResponse(kWholeFrame) < 0) return false;
  *count = ReadDecimal(ResponsePayload());
  return true;
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

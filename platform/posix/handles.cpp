// The objects behind HANDLE: a fixed table of files, serial ports and
// directory searches, so a HANDLE is checked before use (a stale or foreign
// handle gives ERROR_INVALID_HANDLE as on Windows, not a crash) and opening a
// file allocates nothing. Also errno to Win32 error codes.
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/posix/posix_internal.h"

namespace {
constexpr int kMaxHandles = 64;
PosixHandle g_handles[kMaxHandles];
std::mutex g_handlesLock;  // the handset simulator opens files on its own thread
}  // namespace

PosixHandle* AllocHandle(HandleKind kind) {
  std::lock_guard<std::mutex> lock(g_handlesLock);
  for (PosixHandle& h : g_handles) {
    if (h.kind != HandleKind::Free) continue;
    h.kind = kind;
    h.fd = -1;
    h.timeouts = COMMTIMEOUTS{};
    h.dir = nullptr;
    h.dirPath[0] = 0;
    h.pattern[0] = 0;
    return &h;
  }
  SetLastError(ERROR_TOO_MANY_OPEN_FILES);
  return nullptr;
}

PosixHandle* LookupAnyHandle(HANDLE h) {
  const auto addr = reinterpret_cast<std::uintptr_t>(h);
  const auto base = reinterpret_cast<std::uintptr_t>(g_handles);
  if (addr >= base && addr < base + sizeof g_handles && (addr - base) % sizeof(PosixHandle) == 0) {
    PosixHandle* p = &g_handles[(addr - base) / sizeof(PosixHandle)];
    if (p->kind != HandleKind::Free) return p;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

PosixHandle* LookupHandle(HANDLE h, HandleKind kind) {
  PosixHandle* p = LookupAnyHandle(h);
  if (p && p->kind == kind) return p;
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

void FreeHandle(PosixHandle* p) {
  std::lock_guard<std::mutex> lock(g_handlesLock);
  p->kind = HandleKind::Free;
  p->fd = -1;
  p->dir = nullptr;
}

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ENOTEMPTY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case EBUSY:
    case EWOULDBLOCK:
      return ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;  // EIO and the like: "device not functioning"
  }
}

void SetLastErrorFromErrno() { SetLastError(Win32ErrorFromErrno(errno)); }

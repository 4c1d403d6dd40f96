// Files through CreateFileW, ReadFile, WriteFile and friends, as Windows does
// them: the four creation dispositions, a share mode of 0 that keeps every
// other open out (while another handle is open, the open fails with
// ERROR_SHARING_VIOLATION), a write that stops short on a full disk reporting
// the bytes it wrote and FALSE, 64-bit sizes split into two words, and times
// as FILETIME. A terminal device path opens as a serial port (serial.cpp).
// MoveFileExW is rename(2): within one file system it puts the file in place
// whole or not at all, replacing the target only with
// MOVEFILE_REPLACE_EXISTING; GetFileAttributesW marks what is neither a file
// nor a folder (a device, a pipe) FILE_ATTRIBUTE_DEVICE; SetFileTime sets the
// last access and last write times (Linux keeps no settable creation time, so
// that one is taken and left as it is).
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/posix/posix_internal.h"

#define TRUNCATE_EXISTING_ 5u

// ENOENT means a missing file, or a missing folder on the way to it.
static void SetNotFoundError(const char* path) {
  char parent[kPosixPathBytes];
  std::strcpy(parent, path);
  char* slash = std::strrchr(parent, '/');
  struct stat st;
  if (slash && slash != parent) {
    *slash = 0;
    if (::stat(parent, &st) != 0 || !S_ISDIR(st.st_mode)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return;
    }
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
}

static void SetOpenError(const char* path) {
  if (errno == ENOENT)
    SetNotFoundError(path);
  else
    SetLastErrorFromErrno();
}

// Opens, creating when the disposition says so; *existed tells whether the
// file was there before. Never truncates: that waits until the share check.
static int OpenWithDisposition(const char* path, int mode, DWORD disposition, bool* existed) {
  // Non-blocking so that a FIFO cannot hang the open; refused below anyway.
  const int base = mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  *existed = true;
  switch (disposition) {
    case CREATE_NEW:
      *existed = false;
      return ::open(path, base | O_CREAT | O_EXCL, 0666);
    case OPEN_EXISTING:
    case TRUNCATE_EXISTING_:
      return ::open(path, base);
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      // Tell "created" from "opened" without a race: a few tries suffice
      // unless someone deletes and creates the file in a tight loop.
      for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = ::open(path, base | O_CREAT | O_EXCL, 0666);
        if (fd >= 0 || errno != EEXIST) {
          *existed = false;
          return fd;
        }
        fd = ::open(path, base);
        if (fd >= 0 || errno != ENOENT) return fd;
      }
      errno = EBUSY;
      return -1;
    default:
      errno = EINVAL;
      return -1;
  }
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD, HANDLE) {
  char path[kPosixPathBytes];
  if (!WideToPosixPath(name, path, sizeof path)) return INVALID_HANDLE_VALUE;
  const bool reading = (access & GENERIC_READ) != 0, writing = (access & GENERIC_WRITE) != 0;
  const int mode = writing ? (reading ? O_RDWR : O_WRONLY) : O_RDONLY;

  // A file that did not exist yet is made at once: a new regular file, so no
  // device check, no type check and no truncation (a download writes many).
  if (disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
    const mode_t perms = security == kOwnerOnlyFile ? 0600 : 0666;
    const int fd = ::open(path, mode | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL, perms);
    if (fd >= 0) {
      // Nobody else can have it open, but the lock is what later opens check.
      ::flock(fd, (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB);
      PosixHandle* p = AllocHandle(HandleKind::File);
      if (!p) {
        ::close(fd);
        ::unlink(path);
        return INVALID_HANDLE_VALUE;
      }
      p->fd = fd;
      SetLastError(ERROR_SUCCESS);
      return p;
    }
    if (errno != EEXIST) {
      SetOpenError(path);
      return INVALID_HANDLE_VALUE;
    }
  }

  struct stat st;
  if (::stat(path, &st) == 0 && S_ISCHR(st.st_mode)) {
    if (disposition == CREATE_NEW) {
      SetLastError(ERROR_FILE_EXISTS);
      return INVALID_HANDLE_VALUE;
    }
    const int fd = ::open(path, mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      SetOpenError(path);
      return INVALID_HANDLE_VALUE;
    }
    if (::isatty(fd)) return OpenSerialPort(fd, share == 0);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // e.g. /dev/null: a plain file
    PosixHandle* p = AllocHandle(HandleKind::File);
    if (!p) {
      ::close(fd);
      return INVALID_HANDLE_VALUE;
    }
    p->fd = fd;
    SetLastError(ERROR_SUCCESS);
    return p;
  }

  bool existed = false;
  const int fd = OpenWithDisposition(path, mode, disposition, &existed);
  if (fd < 0) {
    SetOpenError(path);
    return INVALID_HANDLE_VALUE;
  }
  // A folder, FIFO or socket is no file the program can read or write.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // Sharing: an exclusive open conflicts with every other open of the file,
  // in this process too (each open has its own lock).
  if (::flock(fd, (share == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    ::close(fd);
    SetLastError(ERROR_SHARING_VIOLATION);
    return INVALID_HANDLE_VALUE;
  }
  if (existed && (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING_) &&
      ::ftruncate(fd, 0) != 0) {
    SetLastErrorFromErrno();
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  PosixHandle* p = AllocHandle(HandleKind::File);
  if (!p) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  p->fd = fd;
  // Windows reports an existing file that CREATE_ALWAYS or OPEN_ALWAYS opened.
  const bool always = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  SetLastError(existed && always ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return p;
}

// EBADF on an open handle means it was not opened for that direction.
static void SetIoError() {
  if (errno == EBADF)
    SetLastError(ERROR_ACCESS_DENIED);
  else
    SetLastErrorFromErrno();
}

BOOL ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, void*) {
  if (read) *read = 0;
  PosixHandle* p = LookupAnyHandle(h);
  if (!p) return FALSE;
  if (!buffer && toRead > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD scratch = 0;
  if (!read) read = &scratch;
  if (p->kind == HandleKind::Serial) return ReadSerial(p, buffer, toRead, read);
  if (p->kind != HandleKind::File) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  char* dst = static_cast<char*>(buffer);
  DWORD done = 0;
  while (done < toRead) {
    const ssize_t n = ::read(p->fd, dst + done, toRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *read = done;
      SetIoError();
      return FALSE;
    }
    if (n == 0) break;  // end of file: success with what was there
    done += static_cast<DWORD>(n);
  }
  *read = done;
  return TRUE;
}

BOOL WriteFile(HANDLE h, LPCVOID buffer, DWORD toWrite, LPDWORD written, void*) {
  if (written) *written = 0;
  PosixHandle* p = LookupAnyHandle(h);
  if (!p) return FALSE;
  if (!buffer && toWrite > 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD scratch = 0;
  if (!written) written = &scratch;
  if (p->kind == HandleKind::Serial) return WriteSerial(p, buffer, toWrite, written);
  if (p->kind != HandleKind::File) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const char* src = static_cast<const char*>(buffer);
  DWORD done = 0;
  while (done < toWrite) {
    const ssize_t n = ::write(p->fd, src + done, toWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      // A full disk: what made it to the file counts, and the call fails.
      *written = done;
      if (n == 0) errno = ENOSPC;
      SetIoError();
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  *written = done;
  return TRUE;
}

BOOL CloseHandle(HANDLE h) {
  PosixHandle* p = LookupAnyHandle(h);
  if (!p) return FALSE;
  if (p->kind == HandleKind::Find) {  // FindClose's job
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (p->kind == HandleKind::Serial) {
    CloseSerial(p);
  } else {
    ::close(p->fd);
  }
  FreeHandle(p);
  return TRUE;
}

DWORD SetFilePointer(HANDLE h, LONG distance, LONG* distanceHigh, DWORD method) {
  PosixHandle* p = LookupHandle(h, HandleKind::File);
  if (!p) return INVALID_SET_FILE_POINTER;
  // Without the high word the distance is a signed 32-bit number.
  const std::int64_t move =
      distanceHigh
          ? static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                static_cast<std::uint32_t>(distance))
          : distance;
  std::int64_t origin = 0;
  if (method == FILE_CURRENT) {
    origin = ::lseek(p->fd, 0, SEEK_CUR);
  } else if (method == FILE_END) {
    struct stat st;
    origin = ::fstat(p->fd, &st) == 0 ? st.st_size : -1;
  } else if (method != FILE_BEGIN) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (origin < 0) {
    SetLastErrorFromErrno();
    return INVALID_SET_FILE_POINTER;
  }
  const std::int64_t target = origin + move;
  if (target < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (!distanceHigh && target > 0xFFFFFFFELL) {  // would not fit the one word
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  if (::lseek(p->fd, target, SEEK_SET) < 0) {
    SetLastErrorFromErrno();
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
  SetLastError(ERROR_SUCCESS);  // tells a position of 0xFFFFFFFF from a failure
  return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE h, LPDWORD high) {
  PosixHandle* p = LookupAnyHandle(h);
  struct stat st;
  if (!p || p->fd < 0 || ::fstat(p->fd, &st) != 0) {
    if (p) SetLastError(p->fd < 0 ? ERROR_INVALID_HANDLE : Win32ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
  if (high) *high = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

// 100-ns ticks since 1601-01-01, the FILETIME epoch.
FILETIME ToFileTime(long long seconds, long nanoseconds) {
  constexpr long long kEpochDelta = 11644473600LL;
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(seconds + kEpochDelta) * 10000000ULL + nanoseconds / 100;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

BOOL GetFileTime(HANDLE h, FILETIME* creation, FILETIME* access, FILETIME* write) {
  PosixHandle* p = LookupAnyHandle(h);
  if (!p) return FALSE;
  struct statx sx;
  if (p->fd < 0 || ::statx(p->fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    SetLastError(p->fd < 0 ? ERROR_INVALID_HANDLE : Win32ErrorFromErrno(errno));
    return FALSE;
  }
  // File systems without a birth time: the last write, which (unlike the
  // inode change time) a rename or chmod leaves alone.
  const statx_timestamp born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_mtime;
  if (creation) *creation = ToFileTime(born.tv_sec, born.tv_nsec);
  if (access) *access = ToFileTime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
  if (write) *write = ToFileTime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR name) {
  char path[kPosixPathBytes];
  if (!WideToPosixPath(name, path, sizeof path)) return FALSE;
  if (::unlink(path) != 0) {
    SetOpenError(path);
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR name, void* security) {
  char path[kPosixPathBytes];
  if (!WideToPosixPath(name, path, sizeof path)) return FALSE;
  if (::mkdir(path, security == kOwnerOnlyFile ? 0700 : 0777) != 0) {
    if (errno == EEXIST)
      SetLastError(ERROR_ALREADY_EXISTS);
    else if (errno == ENOENT)
      SetLastError(ERROR_PATH_NOT_FOUND);
    else
      SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

// FILETIME ticks back to a Linux time.
static struct timespec FromFileTime(const FILETIME& t) {
  constexpr long long kEpochDelta = 11644473600LL;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(static_cast<long long>(ticks / 10000000ULL) - kEpochDelta);
  ts.tv_nsec = static_cast<long>((ticks % 10000000ULL) * 100);
  return ts;
}

BOOL SetFileTime(HANDLE h, const FILETIME*, const FILETIME* access, const FILETIME* write) {
  PosixHandle* p = LookupHandle(h, HandleKind::File);
  if (!p) return FALSE;
  struct timespec times[2];
  times[0] = access ? FromFileTime(*access) : timespec{0, UTIME_OMIT};
  times[1] = write ? FromFileTime(*write) : timespec{0, UTIME_OMIT};
  if (::futimens(p->fd, times) != 0) {
    SetIoError();
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR name) {
  char path[kPosixPathBytes];
  if (!WideToPosixPath(name, path, sizeof path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (::stat(path, &st) != 0) {
    SetOpenError(path);
    return INVALID_FILE_ATTRIBUTES;
  }
  constexpr DWORD kReadOnly = 0x1, kArchive = 0x20;
  DWORD attributes = S_ISDIR(st.st_mode)   ? FILE_ATTRIBUTE_DIRECTORY
                     : S_ISREG(st.st_mode) ? kArchive
                                           : FILE_ATTRIBUTE_DEVICE;
  if (!(st.st_mode & S_IWUSR)) attributes |= kReadOnly;
  struct stat link;
  if (::lstat(path, &link) == 0 && S_ISLNK(link.st_mode))
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes;
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR replacement, DWORD flags) {
  char from[kPosixPathBytes], to[kPosixPathBytes];
  if (!WideToPosixPath(existing, from, sizeof from) || !WideToPosixPath(replacement, to, sizeof to))
    return FALSE;
  const int done = (flags & MOVEFILE_REPLACE_EXISTING)
                       ? ::rename(from, to)
                       : ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
  if (done != 0) {
    if (errno == EEXIST)
      SetLastError(ERROR_ALREADY_EXISTS);
    else if (errno == ENOENT)
      SetNotFoundError(from);
    else
      SetLastErrorFromErrno();
    return FALSE;
  }
  return TRUE;
}

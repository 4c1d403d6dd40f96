// FindFirstFileW / FindNextFileW / FindClose as Windows CE has them: '*' and
// '?' in the last component of the pattern, names matched without regard to
// letter case, "*.*" meaning every name, and no "." or ".." entries. Names
// that are not valid UTF-8, do not fit MAX_PATH or hold a backslash (which
// the program would take for a folder) cannot be named by it and are left out.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_internal.h"

static bool Matches(const WCHAR* pattern, const WCHAR* name) {
  const WCHAR* star = nullptr;
  const WCHAR* resume = nullptr;
  while (*name) {
    if (*pattern == L'*') {
      star = pattern++;
      resume = name;
    } else if (*pattern && (*pattern == L'?' || FoldCase(*pattern) == FoldCase(*name))) {
      ++pattern;
      ++name;
    } else if (star) {  // let the last '*' swallow one more character
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == L'*') ++pattern;
  return *pattern == 0;
}

// The next entry that matches, filled into data; false at the end.
static bool NextMatch(PosixHandle* p, LPWIN32_FIND_DATAW data) {
  while (struct dirent* e = ::readdir(p->dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    WCHAR name[MAX_PATH];
    if (!Utf8ToWide(e->d_name, std::strlen(e->d_name), name, MAX_PATH)) continue;
    if (std::wcschr(name, L'\\') || !Matches(p->pattern, name)) continue;
    struct stat st;
    if (::fstatat(::dirfd(p->dir), e->d_name, &st, 0) != 0) continue;  // gone meanwhile
    std::memset(data, 0, sizeof *data);
    constexpr DWORD kReadOnly = 0x1, kArchive = 0x20;
    data->dwFileAttributes = S_ISDIR(st.st_mode)   ? FILE_ATTRIBUTE_DIRECTORY
                             : S_ISREG(st.st_mode) ? kArchive
                                                   : FILE_ATTRIBUTE_DEVICE;
    // A symbolic link is a reparse point on Windows; its target's kind stays.
    struct stat link;
    if (::fstatat(::dirfd(p->dir), e->d_name, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(link.st_mode))
      data->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (!(st.st_mode & S_IWUSR)) data->dwFileAttributes |= kReadOnly;
    data->ftCreationTime = ToFileTime(st.st_ctim.tv_sec, st.st_ctim.tv_nsec);
    data->ftLastAccessTime = ToFileTime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
    data->ftLastWriteTime = ToFileTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    const unsigned long long size = S_ISDIR(st.st_mode) ? 0 : st.st_size;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    std::memcpy(data->cFileName, name, sizeof name);
    return true;
  }
  return false;
}

HANDLE FindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
  char path[kPosixPathBytes];
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (!WideToPosixPath(pattern, path, sizeof path)) return INVALID_HANDLE_VALUE;
  const WCHAR* last = pattern;
  for (const WCHAR* c = pattern; *c; ++c)
    if (*c == L'\\' || *c == L'/') last = c + 1;
  const std::size_t lastUnits = std::wcslen(last);
  if (lastUnits == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (lastUnits >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  PosixHandle* p = AllocHandle(HandleKind::Find);
  if (!p) return INVALID_HANDLE_VALUE;
  std::wcscpy(p->pattern, std::wcscmp(last, L"*.*") == 0 ? L"*" : last);
  char* slash = std::strrchr(path, '/');
  if (slash) {
    slash[1] = 0;
    std::strcpy(p->dirPath, path);
  } else {
    std::strcpy(p->dirPath, "./");
  }
  p->dir = ::opendir(p->dirPath);
  if (!p->dir) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                     : Win32ErrorFromErrno(errno));
    FreeHandle(p);
    return INVALID_HANDLE_VALUE;
  }
  if (!NextMatch(p, data)) {
    ::closedir(p->dir);
    FreeHandle(p);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return p;
}

BOOL FindNextFileW(HANDLE h, LPWIN32_FIND_DATAW data) {
  PosixHandle* p = LookupHandle(h, HandleKind::Find);
  if (!p) return FALSE;
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!NextMatch(p, data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE h) {
  PosixHandle* p = LookupHandle(h, HandleKind::Find);
  if (!p) return FALSE;
  ::closedir(p->dir);
  FreeHandle(p);
  return TRUE;
}

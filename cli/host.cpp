// Local paths in the program's form, and (natively) the list view the core
// fills; the Windows one is list_model_win32.cpp.
#include <cwchar>

#include "cli/cli.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#endif

#ifdef _WIN32
std::wstring SystemReason(DWORD error) {
  WCHAR text[512];
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, 512, nullptr);
  std::wstring reason(text, n);
  while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r' ||
                             reason.back() == L'.' || reason.back() == L' '))
    reason.pop_back();
  return reason.empty() ? InLanguage(L"error ", L"エラー ") + std::to_wstring(error) : reason;
}

// COM10 and up open only as device paths; "\\.\" serves every number.
std::wstring DevicePortName(const std::wstring& port) {
  if (port.size() > 3 && _wcsnicmp(port.c_str(), L"COM", 3) == 0 &&
      port.find_first_not_of(L"0123456789", 3) == std::wstring::npos)
    return L"\\\\.\\" + port;
  return port;
}

bool RepresentablePath(const std::wstring&) { return true; }

bool EndsWithSeparator(const std::wstring& path) {
  return !path.empty() && (path.back() == L'/' || path.back() == L'\\');
}

std::wstring ProgramPath(const WCHAR* argument) {
  WCHAR full[4 * MAX_PATH];
  const DWORD n = GetFullPathNameW(argument, 4 * MAX_PATH, full, nullptr);
  if (n == 0 || n >= 4 * MAX_PATH) return std::wstring();
  return std::wstring(full, n);
}

PathKind KindOfPath(const std::wstring& programPath, std::wstring* reason) {
  const DWORD attributes = GetFileAttributesW(programPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    if (reason) *reason = SystemReason(GetLastError());
    return PathKind::Missing;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
  return PathKind::File;
}

std::wstring MakeTemporaryFolder(std::wstring* reason) {
  WCHAR base[MAX_PATH + 1];
  const DWORD n = GetTempPathW(MAX_PATH + 1, base);
  if (n == 0 || n > MAX_PATH) {
    *reason = SystemReason(GetLastError());
    return std::wstring();
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring path(base, n);
    if (path.back() != L'\\') path += L'\\';
    path += L"palvo-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(attempt);
    if (CreateDirectoryW(path.c_str(), nullptr)) return path;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  *reason = SystemReason(GetLastError());
  return std::wstring();
}

void RemoveTemporaryFolder(const std::wstring& folder, const std::wstring& file) {
  DeleteFileW(file.c_str());
  RemoveDirectoryW(folder.c_str());
}

std::wstring WhyNotWritable(const std::wstring& folder) {
  std::wstring probe = folder;
  if (probe.empty() || probe.back() != L'\\') probe += L'\\';
  probe += L".palvo-probe-" + std::to_wstring(GetCurrentProcessId());
  HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return SystemReason(GetLastError());
  CloseHandle(file);
  return std::wstring();
}
#else
std::wstring DevicePortName(const std::wstring& port) { return port; }

bool EndsWithSeparator(const std::wstring& path) { return !path.empty() && path.back() == L'/'; }

bool RepresentablePath(const std::wstring& path) { return path.find(L'\\') == std::wstring::npos; }

HWND CreateListingView() { return CreateListViewModel(); }

std::wstring ProgramPath(const WCHAR* argument) {
  std::wstring path = argument;
  if (path.empty()) return path;
  if (path[0] != L'/') {
    char cwd[PATH_MAX];
    if (!::getcwd(cwd, sizeof cwd)) return std::wstring();
    path = FromUtf8(cwd) + L"/" + path;
  }
  // Without "." and ".." steps, so the last backslash is the file name's.
  std::wstring out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(L'/', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring step = path.substr(start, end - start);
    if (step == L"..") {
      const std::size_t slash = out.rfind(L'\\');
      out.resize(slash == std::wstring::npos ? 0 : slash);
    } else if (!step.empty() && step != L".") {
      out += L'\\';
      out += step;
    }
    start = end + 1;
  }
  return out.empty() ? std::wstring(L"\\") : out;
}

static std::string NativePath(const std::wstring& programPath) {
  std::wstring path = programPath;
  for (WCHAR& c : path) {
    if (c == L'\\') c = L'/';
  }
  return ToUtf8(path.c_str());
}

std::wstring SystemReason(int error) { return FromUtf8(std::strerror(error)); }

PathKind KindOfPath(const std::wstring& programPath, std::wstring* reason) {
  struct stat st;
  if (::stat(NativePath(programPath).c_str(), &st) != 0) {
    if (reason) *reason = SystemReason(errno);
    return PathKind::Missing;
  }
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  if (S_ISREG(st.st_mode)) return PathKind::File;
  return PathKind::Other;
}

std::wstring MakeTemporaryFolder(std::wstring* reason) {
  const char* base = std::getenv("TMPDIR");
  std::string path = std::string(base && *base ? base : "/tmp") + "/palvo-XXXXXX";
  if (!::mkdtemp(path.data())) {
    *reason = SystemReason(errno);
    return std::wstring();
  }
  return ProgramPath(FromUtf8(path.c_str()).c_str());
}

void RemoveTemporaryFolder(const std::wstring& folder, const std::wstring& file) {
  ::unlink(NativePath(file).c_str());
  ::rmdir(NativePath(folder).c_str());
}

std::wstring WhyNotWritable(const std::wstring& folder) {
  std::string probe = NativePath(folder);
  if (probe.empty() || probe.back() != '/') probe += '/';
  probe += ".palvo-probe-" + std::to_string(::getpid());
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return SystemReason(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return std::wstring();
}
#endif

std::wstring ShownPath(const std::wstring& programPath) {
#ifdef _WIN32
  return programPath;
#else
  return FromUtf8(NativePath(programPath).c_str());
#endif
}

std::wstring FolderOf(const std::wstring& programPath) {
  const std::size_t slash = programPath.rfind(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  // Keep the backslash of a root: "\" natively, "C:\" on Windows.
  if (slash == 0 || (slash == 2 && programPath[1] == L':')) return programPath.substr(0, slash + 1);
  return programPath.substr(0, slash);
}

bool CopyToStandardOutput(const std::wstring& programPath) {
  HANDLE file = CreateFileW(programPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  static char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0) {
    if (!WriteBytes(buffer, got)) break;  // the run's end reports it
  }
  CloseHandle(file);
  return ok;
}

std::wstring BackslashProblem(const std::wstring& path) {
  return InLanguage(L"cannot use the path ", L"使えないパスです: ") + path +
         InLanguage(L": a backslash in a file or folder name is not supported",
                    L" (ファイル名やフォルダ名にバックスラッシュは使えません)");
}

// What a failed step could not use, for the user: the local file as the user
// wrote its path (or the port), and the system's reason.
#include <cwchar>
#include <string>

#include "cli/cli.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#endif

namespace {
// A destination in the program's form and as the user wrote it.
std::wstring g_programPrefix, g_shownPrefix;
}  // namespace

void ShowPathsAs(const std::wstring& programPath, const std::wstring& shown) {
  g_programPrefix = programPath;
  g_shownPrefix = shown;
}

std::wstring UserPath(const std::wstring& programPath) {
  const std::size_t n = g_programPrefix.size();
  if (n > 0 && programPath.compare(0, n, g_programPrefix) == 0 &&
      (programPath.size() == n || programPath[n] == L'\\' || g_programPrefix.back() == L'\\')) {
    std::wstring rest = ShownPath(programPath.substr(n));
    // The user's folder keeps its own separator; the rest follows it once.
    if (!rest.empty() && !EndsWithSeparator(g_shownPrefix) && rest[0] != L'/' && rest[0] != L'\\')
      rest.insert(rest.begin(), L'/');
    if (!rest.empty() && EndsWithSeparator(g_shownPrefix) && (rest[0] == L'/' || rest[0] == L'\\'))
      rest.erase(0, 1);
    return g_shownPrefix + rest;
  }
  return ShownPath(programPath);
}

std::wstring CoreErrorReason(DWORD error) {
  // A port that opened and did not answer the hello.
  if (error == ERROR_SEM_TIMEOUT)
    return InLanguage(L"it does not answer as the handset", L"電話機として応答しません");
#ifdef _WIN32
  return SystemReason(error);
#else
  // The stand-in keeps Windows' codes; the reason is told in the system's
  // words of the errno they stand for.
  int e = EIO;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      e = ENOENT;
      break;
    case ERROR_ACCESS_DENIED:
      e = EACCES;
      break;
    case ERROR_DISK_FULL:
      e = ENOSPC;
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      e = ENAMETOOLONG;
      break;
    case ERROR_SHARING_VIOLATION:
      return InLanguage(L"another program has it open", L"他のプログラムが開いています");
    case ERROR_TOO_MANY_OPEN_FILES:
      e = EMFILE;
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      e = EEXIST;
      break;
    default:
      break;
  }
  return SystemReason(e);
#endif
}

std::wstring ProblemOfStep() {
  if (!g_problemPath[0]) return {};
  // A port's name is as it was given or found; a file's is a program path.
  const bool port = std::wcscmp(g_problemPath, g_portName) == 0;
  std::wstring text = port ? std::wstring(g_problemPath) : UserPath(g_problemPath);
  if (g_problemError != ERROR_SUCCESS) text += L": " + CoreErrorReason(g_problemError);
  return text;
}

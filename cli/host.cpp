// What the command line needs of its host system: a list view for the core to
// fill, and local paths turned into the program's form.
#include <cwchar>

#include "cli/cli.h"

#ifdef _WIN32
#else
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#endif

#ifdef _WIN32
HWND CreateListingView() {
  // The real list view, in a message-only window: no desktop needed and
  // nothing shown. Loading the common controls registers its class.
  HMODULE controls = LoadLibraryW(L"comctl32.dll");
  if (!controls) return nullptr;
  typedef BOOL(WINAPI * InitFn)(const INITCOMMONCONTROLSEX*);
  InitFn init = reinterpret_cast<InitFn>(
      reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControlsEx")));
  if (init) {
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_LISTVIEW_CLASSES};
    init(&icc);
  }
  HWND view = CreateWindowExW(0, L"SysListView32", L"", LVS_REPORT, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!view) return nullptr;
  // Sub-item texts live in columns: the three of the window's listing.
  static const WCHAR* const kHeaders[] = {L"名前", L"サイズ", L"更新日時"};
  for (int i = 0; i < 3; ++i) {
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = 100;
    column.pszText = const_cast<LPWSTR>(kHeaders[i]);
    column.iSubItem = i;
    SendMessageW(view, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  return view;
}

std::wstring ProgramPath(const WCHAR* argument) {
  WCHAR full[4 * MAX_PATH];
  const DWORD n = GetFullPathNameW(argument, 4 * MAX_PATH, full, nullptr);
  if (n == 0 || n >= 4 * MAX_PATH) return std::wstring();
  return std::wstring(full, n);
}

PathKind KindOfPath(const std::wstring& programPath) {
  const DWORD attributes = GetFileAttributesW(programPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::Folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::Other;
  return PathKind::File;
}

bool MakeFolder(const std::wstring& programPath) {
  return CreateDirectoryW(programPath.c_str(), nullptr) != 0;
}
#else
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

PathKind KindOfPath(const std::wstring& programPath) {
  struct stat st;
  if (::stat(NativePath(programPath).c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  if (S_ISREG(st.st_mode)) return PathKind::File;
  return PathKind::Other;
}

bool MakeFolder(const std::wstring& programPath) {
  return ::mkdir(NativePath(programPath).c_str(), 0777) == 0;
}
#endif

std::wstring FolderOf(const std::wstring& programPath) {
  const std::size_t slash = programPath.rfind(L'\\');
  if (slash == std::wstring::npos) return std::wstring();
  // Keep the backslash of a root: "\" natively, "C:\" on Windows.
  if (slash == 0 || (slash == 2 && programPath[1] == L':')) return programPath.substr(0, slash + 1);
  return programPath.substr(0, slash);
}

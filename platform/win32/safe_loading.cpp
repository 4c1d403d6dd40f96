#include "platform/win32/safe_loading.h"

namespace {

// Present from Windows 8, and on 7 with KB2533623: looked up, so that the
// program still starts where it is missing.
using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD flags);

}  // namespace

void RestrictDllSearch() {
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR))
    return;
  // Without it the current folder at least leaves the search.
  SetDllDirectoryW(L"");
}

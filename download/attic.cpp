#include "download/attic.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/backup_names.h"

bool g_atticForFiles = false;

namespace {

WCHAR g_atticFolder[kPathUnits];  // ends with a backslash once made
int g_moves = 0;

bool IsPlainFile(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

// The run's attic folder beside path's name: made on first use.
bool MakeAtticFolder(const WCHAR* path) {
  if (g_atticFolder[0]) return true;
  const WCHAR* slash = std::wcsrchr(path, L'\\');
  const std::size_t folder = slash ? static_cast<std::size_t>(slash - path) + 1 : 0;
  if (folder + 40 > kPathUnits) return false;
  std::wmemcpy(g_atticFolder, path, folder);
  std::wcscpy(g_atticFolder + folder, kAtticName);
  CreateDirectoryW(g_atticFolder, nullptr);  // there already from an earlier run: fine
  SYSTEMTIME now;
  GetLocalTime(&now);
  const std::size_t base = std::wcslen(g_atticFolder);
  for (int n = 1; n < 100; ++n) {
    WCHAR stamp[40];
    std::swprintf(stamp, 40,
                  n == 1 ? L"\\%04u%02u%02u-%02u%02u%02u\\" : L"\\%04u%02u%02u-%02u%02u%02u-%d\\",
                  now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, n);
    std::wcscpy(g_atticFolder + base, stamp);
    const std::size_t n2 = std::wcslen(g_atticFolder);
    g_atticFolder[n2 - 1] = 0;
    if (CreateDirectoryW(g_atticFolder, nullptr)) {
      g_atticFolder[n2 - 1] = L'\\';
      return true;
    }
  }
  g_atticFolder[0] = 0;
  return false;
}

}  // namespace

// Byte for byte, in pieces: a file of any size costs two buffers.
bool SameBytes(const WCHAR* a, const WCHAR* b) {
  HANDLE fa = CreateFileW(a, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (fa == INVALID_HANDLE_VALUE) return false;
  HANDLE fb = CreateFileW(b, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (fb == INVALID_HANDLE_VALUE) {
    CloseHandle(fa);
    return false;
  }
  static char bufferA[4096], bufferB[4096];
  bool same = true;
  for (;;) {
    DWORD na = 0, nb = 0;
    if (!ReadFile(fa, bufferA, sizeof bufferA, &na, nullptr) ||
        !ReadFile(fb, bufferB, sizeof bufferB, &nb, nullptr) || na != nb ||
        std::memcmp(bufferA, bufferB, na) != 0) {
      same = false;
      break;
    }
    if (na == 0) break;
  }
  CloseHandle(fa);
  CloseHandle(fb);
  return same;
}

void BeginAtticRun() {
  g_atticFolder[0] = 0;
  g_moves = 0;
}

bool KeepEarlierFile(const WCHAR* path, const WCHAR* replacement) {
  if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return true;
  if (!IsPlainFile(path)) return false;
  if (replacement && SameBytes(path, replacement)) return true;
  if (!MakeAtticFolder(path)) return false;
  const WCHAR* slash = std::wcsrchr(path, L'\\');
  const WCHAR* name = slash ? slash + 1 : path;
  const std::size_t folder = std::wcslen(g_atticFolder);
  // Two earlier files of one name in a run (replaced, then removed) both stay.
  for (int n = 0; n < 1000; ++n) {
    WCHAR target[kPathUnits];
    if (n == 0) {
      if (folder + std::wcslen(name) >= kPathUnits) return false;
      std::swprintf(target, kPathUnits, L"%ls%ls", g_atticFolder, name);
    } else {
      std::swprintf(target, kPathUnits, L"%ls%ls~%d", g_atticFolder, name, n);
    }
    if (MoveFileExW(path, target, 0)) {
      ++g_moves;
      return true;
    }
    if (GetFileAttributesW(target) == INVALID_FILE_ATTRIBUTES) return false;
  }
  return false;
}

int AtticMoves() { return g_moves; }

const WCHAR* AtticFolder() { return g_atticFolder; }

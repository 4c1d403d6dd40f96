// palvo-backup.tsv: its text helpers, its reader, and the check of a backup
// against it and the handset (verify).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "commands/backup_internal.h"
#include "commands/commands.h"
#include "commands/sha256.h"
#include "download/category.h"
#include "link/messages.h"

namespace {

void Unescape(char* text) {
  char* out = text;
  for (char* p = text; *p; ++p) {
    if (*p == '\\' && p[1]) {
      ++p;
      *out++ = *p == 't' ? '\t' : *p == 'r' ? '\r' : *p == 'n' ? '\n' : *p;
    } else {
      *out++ = *p;
    }
  }
  *out = 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

namespace backup_run {

bool Utf8(const WCHAR* text, char* out, int room) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, room, nullptr, nullptr);
  if (n <= 0) out[0] = 0;
  return n > 0;
}

bool Wide(const char* text, WCHAR out[kPathUnits]) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, out, kPathUnits);
  if (n <= 0) out[0] = 0;
  return n > 0;
}

// Appends text to out with the manifest's escapes; false when it does not fit.
bool AppendEscaped(char*& out, const char* end, const char* text) {
  for (; *text; ++text) {
    const char c = *text;
    const char* escaped = c == '\\'   ? "\\\\"
                          : c == '\t' ? "\\t"
                          : c == '\r' ? "\\r"
                          : c == '\n' ? "\\n"
                                      : nullptr;
    const std::size_t n = escaped ? 2 : 1;
    if (out + n >= end) return false;
    if (escaped) {
      *out++ = escaped[0];
      *out++ = escaped[1];
    } else {
      *out++ = c;
    }
  }
  return true;
}

bool Append(char*& out, const char* end, const char* text) {
  const std::size_t n = std::strlen(text);
  if (out + n >= end) return false;
  std::memcpy(out, text, n);
  out += n;
  return true;
}

// A manifest's local name names a file of the folder itself: never one
// elsewhere (a manifest is a file anyone may have edited).
bool IsPlainName(const WCHAR* name) {
  if (!name[0] || std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) return false;
  for (const WCHAR* p = name; *p; ++p) {
    if (*p < 0x20 || *p == L'/' || *p == L'\\') return false;
#ifdef _WIN32
    if (*p == L':') return false;
#endif
  }
  return true;
}

// The folder's file of a manifest name; false when it does not fit or names
// no file of the folder.
bool LocalPath(const char* local, WCHAR out[kPathUnits]) {
  WCHAR name[kPathUnits];
  if (!Wide(local, name) || !IsPlainName(name)) return false;
  if (g_dirUnits + std::wcslen(name) >= kPathUnits) return false;
  std::wmemcpy(out, g_dir, g_dirUnits);
  std::wcscpy(out + g_dirUnits, name);
  return true;
}

void NowText(char out[48]) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  std::snprintf(out, 48, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear % 10000u, now.wMonth % 100u,
                now.wDay % 100u, now.wHour % 100u, now.wMinute % 100u, now.wSecond % 100u);
}

std::uint64_t SizeOfFile(const WCHAR* path) {
  HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  DWORD high = 0;
  SetLastError(ERROR_SUCCESS);
  const DWORD low = GetFileSize(h, &high);
  const bool failed = low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS;
  CloseHandle(h);
  return failed ? 0 : (static_cast<std::uint64_t>(high) << 32) | low;
}

}  // namespace backup_run

using namespace backup_run;

// ---- the manifest's reader

bool ReadManifest(const WCHAR* dir, Manifest* manifest) {
  manifest->text.clear();
  manifest->entries.clear();
  manifest->badLines = 0;
  WCHAR path[kPathUnits];
  const std::size_t units = std::wcslen(dir);
  if (units + std::wcslen(kManifestName) >= kPathUnits) return false;
  std::wmemcpy(path, dir, units);
  std::wcscpy(path + units, kManifestName);
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (high != 0 || low > 256u * 1024 * 1024) {
    CloseHandle(file);
    return false;
  }
  manifest->text.resize(static_cast<std::size_t>(low) + 1);
  DWORD got = 0;
  const bool read =
      low == 0 || (ReadFile(file, manifest->text.data(), low, &got, nullptr) && got == low);
  CloseHandle(file);
  if (!read) return false;
  manifest->text[low] = 0;
  ParseManifest(manifest);
  return true;
}

void ParseManifest(Manifest* manifest) {
  manifest->entries.clear();
  manifest->badLines = 0;
  if (manifest->text.empty()) return;
  char* p = manifest->text.data();
  char* const end = p + manifest->text.size() - 1;
  bool header = true;
  while (p < end) {
    char* line = p;
    char* newline = static_cast<char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    char* lineEnd = newline ? newline : end;
    *lineEnd = 0;
    p = lineEnd + 1;
    if (header) {  // "# palvo ...": the fields named
      header = false;
      if (std::strncmp(line, "# palvo", 7) == 0) continue;
    }
    if (!*line) continue;
    char* fields[8];
    int n = 0;
    for (char* f = line; n < 8;) {
      fields[n++] = f;
      char* tab = std::strchr(f, '\t');
      if (!tab) break;
      *tab = 0;
      f = tab + 1;
    }
    std::uint64_t size = 0;
    bool sizeOk = n == 8 && *fields[4];
    for (const char* d = fields[4]; sizeOk && *d; ++d) {
      sizeOk = *d >= '0' && *d <= '9' && size <= (UINT64_MAX - 9) / 10;
      size = size * 10 + static_cast<std::uint64_t>(*d - '0');
    }
    if (!sizeOk || std::strlen(fields[6]) != 64) {
      ++manifest->badLines;
      continue;
    }
    Unescape(fields[0]);
    Unescape(fields[3]);
    // A local name that is no plain name of the folder is no line of ours.
    const char* local = fields[3];
    if (!*local || std::strcmp(local, ".") == 0 || std::strcmp(local, "..") == 0 ||
        std::strpbrk(local, "/\\") || std::find_if(local, local + std::strlen(local), [](char c) {
                                        return static_cast<unsigned char>(c) < 0x20;
                                      }) != local + std::strlen(local)) {
      ++manifest->badLines;
      continue;
    }
    manifest->entries.push_back(
        {fields[0], fields[1], fields[2], fields[3], size, fields[5], fields[6], fields[7]});
  }
}

bool ManifestNameBytes(const ManifestEntry& entry, char* out, std::size_t room, std::size_t* n) {
  const std::size_t hex = std::strlen(entry.bytes);
  if (hex > 0) {
    if (hex % 2 != 0 || hex / 2 > room) return false;
    for (std::size_t i = 0; i < hex / 2; ++i) {
      const int hi = HexValue(entry.bytes[2 * i]), lo = HexValue(entry.bytes[2 * i + 1]);
      if (hi < 0 || lo < 0) return false;
      out[i] = static_cast<char>(hi * 16 + lo);
    }
    *n = hex / 2;
    return true;
  }
  WCHAR wide[kPathUnits];
  if (!Wide(entry.name, wide)) return false;
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, wide, -1, out, static_cast<int>(room), nullptr, nullptr);
  if (bytes <= 0) return false;
  *n = static_cast<std::size_t>(bytes - 1);
  return true;
}

// ---- verify

int VerifyBackup(const WCHAR* dir, bool offline, VerifyReport problem, Message* why) {
  *why = nullptr;
  g_dirUnits = std::wcslen(dir);
  if (g_dirUnits >= kPathUnits) return -1;
  std::wcscpy(g_dir, dir);
  if (!ReadManifest(dir, &g_old)) return -1;
  int problems = g_old.badLines;
  if (g_old.badLines > 0) problem(VerifyProblem::kUnreadableLines, kManifestName, g_old.badLines);
  for (const ManifestEntry& e : g_old.entries) {
    WCHAR path[kPathUnits], name[kPathUnits];
    Wide(e.local, name);
    char sha[65];
    std::uint64_t size = 0;
    if (!LocalPath(e.local, path) || !Sha256OfFile(path, sha, &size)) {
      problem(VerifyProblem::kMissing, name, 0);
    } else if (size != e.size || std::strcmp(sha, e.sha256) != 0) {
      problem(VerifyProblem::kChanged, name, 0);
    } else {
      continue;
    }
    ++problems;
  }
  if (offline) return problems;

  const Message listing = GetListingCommand();
  if (listing) {
    *why = listing;
    return -1;
  }
  IndexOldEntries();
  const int rows = RowCount();
  static RowFacts row;
  for (int i = 0; i < rows; ++i) {
    const int old = OldEntryOfRow(i, &row);
    if (old == kNoKey) continue;
    if (old < 0) {
      problem(VerifyProblem::kNotInBackup, row.name, 0);
    } else {
      if (RowAsRecorded(row, g_old.entries[static_cast<std::size_t>(old)])) continue;
      problem(VerifyProblem::kDiffersFromHandset, row.name, 0);
    }
    ++problems;
  }
  return problems;
}

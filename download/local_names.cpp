#include "download/local_names.h"

#include <cwchar>

#include "download/transfer.h"
#include "platform/backup_names.h"

namespace {

// A file name takes at most this much: bytes of UTF-8 on Linux, units of
// UTF-16 on Windows.
constexpr std::size_t kNameLimit = 255;
constexpr std::size_t kLongestExtension = 16;  // kept whole when a name is cut

std::size_t NameSize(const WCHAR* name, std::size_t units) {
#ifdef _WIN32
  (void)name;
  return units;
#else
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned long c = static_cast<unsigned long>(name[i]);
    bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  }
  return bytes;
#endif
}

bool IsRefusedChar(WCHAR c) {
  if (c < 0x20 || c == 0x7F || c == L'/' || c == L'\\') return true;
#ifdef _WIN32
  if (std::wcschr(L"<>:\"|?*", c)) return true;
#endif
  return false;
}

#ifdef _WIN32
// Names that Windows opens as devices in any folder ("NUL", "com1.txt").
bool IsDeviceName(const WCHAR* name) {
  static const WCHAR* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
  static const WCHAR* const kNumbered[] = {L"COM", L"LPT"};
  std::size_t base = 0;
  while (name[base] && name[base] != L'.') ++base;
  while (base > 0 && name[base - 1] == L' ') --base;  // "CON .txt" is CON too
  for (const WCHAR* device : kDevices) {
    if (base == 3 && _wcsnicmp(name, device, 3) == 0) return true;
  }
  for (const WCHAR* device : kNumbered) {
    if (base == 4 && _wcsnicmp(name, device, 3) == 0 && name[3] >= L'1' && name[3] <= L'9')
      return true;
  }
  return false;
}
#endif

// The files a backup folder holds under names of their own: the bookmark
// file, the address file, the mail files, a download's part files.
bool IsReservedName(const WCHAR* name) {
  if (_wcsicmp(name, kBookmarkFileName) == 0 || _wcsicmp(name, kAddressFileName) == 0) return true;
  if (IsPartName(name)) return true;
  if (_wcsnicmp(name, L"mail", 4) != 0) return false;
  std::size_t digits = 0;
  while (name[4 + digits] >= L'0' && name[4 + digits] <= L'9') ++digits;
  return digits >= 3 && _wcsicmp(name + 4 + digits, L".txt") == 0;
}

// A name no row of the listing has (other than `self`), as the file system
// compares names.
bool IsRowName(const WCHAR* name) {
  const int count = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    WCHAR text[kPathUnits];
    text[0] = 0;
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = i;
    item.pszText = text;
    item.cchTextMax = kPathUnits;
    SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const WCHAR* rowText = item.pszText ? item.pszText : text;
#ifdef _WIN32
    if (_wcsicmp(rowText, name) == 0) return true;
#else
    if (std::wcscmp(rowText, name) == 0) return true;
#endif
  }
  return false;
}

// The record: texts back to back in one pool.
constexpr std::size_t kPoolUnits = 16384;
constexpr int kMaxRecorded = 512;
WCHAR g_pool[kPoolUnits];
std::size_t g_poolUsed = 0;
struct Recorded {
  std::size_t row, savedAs;  // offsets in the pool; savedAs npos: not saved
};
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
Recorded g_recorded[kMaxRecorded];
int g_recordedCount = 0;
int g_leftOut = 0;
bool g_anyNotSaved = false;

std::size_t Keep(const WCHAR* text) {
  const std::size_t n = std::wcslen(text) + 1;
  if (g_poolUsed + n > kPoolUnits) return kNone;
  std::wmemcpy(g_pool + g_poolUsed, text, n);
  g_poolUsed += n;
  return g_poolUsed - n;
}

bool IsEarlierReplacement(const WCHAR* name) {
  for (int i = 0; i < g_recordedCount; ++i) {
    if (g_recorded[i].savedAs == kNone) continue;
#ifdef _WIN32
    if (_wcsicmp(g_pool + g_recorded[i].savedAs, name) == 0) return true;
#else
    if (std::wcscmp(g_pool + g_recorded[i].savedAs, name) == 0) return true;
#endif
  }
  return false;
}

bool IsFree(const WCHAR* name) {
  return IsLocalName(name) && !IsRowName(name) && !IsEarlierReplacement(name);
}

}  // namespace

bool IsLocalName(const WCHAR* name) {
  const std::size_t units = std::wcslen(name);
  if (units == 0 || std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0) return false;
  if (NameSize(name, units) > kNameLimit) return false;
  for (const WCHAR* p = name; *p; ++p) {
    if (IsRefusedChar(*p)) return false;
  }
#ifdef _WIN32
  // Windows drops a trailing dot or space: "a." would be the file "a".
  if (name[units - 1] == L'.' || name[units - 1] == L' ') return false;
  if (IsDeviceName(name)) return false;
#endif
  return !IsReservedName(name);
}

bool MakeLocalName(const WCHAR* name, std::size_t room, WCHAR out[kPathUnits]) {
  if (room > kPathUnits - 1) room = kPathUnits - 1;
  // Every refused character one "_"; a name of dots alone is all "_".
  WCHAR base[kPathUnits];
  std::size_t n = 0;
  bool onlyDots = true;
  for (const WCHAR* p = name; *p && n < kPathUnits - 2; ++p) {
    if (*p != L'.') onlyDots = false;
    base[n++] = IsRefusedChar(*p) ? L'_' : *p;
  }
  base[n] = 0;
  if (onlyDots) {
    for (std::size_t i = 0; i < n; ++i) base[i] = L'_';
  }
#ifdef _WIN32
  for (std::size_t i = n; i > 0 && (base[i - 1] == L'.' || base[i - 1] == L' '); --i)
    base[i - 1] = L'_';
#endif
  bool prefix = n == 0 || IsPartName(base);
#ifdef _WIN32
  prefix = prefix || IsDeviceName(base);
#endif
  if (prefix) {
    std::wmemmove(base + 1, base, n + 1);
    base[0] = L'_';
    ++n;
  }

  // The extension stays whole when the stem is cut or numbered.
  std::size_t stem = n;
  for (std::size_t i = n; i > 1; --i) {
    if (base[i - 1] == L'.') {
      if (n - (i - 1) <= kLongestExtension) stem = i - 1;
      break;
    }
  }
  const WCHAR* extension = base + stem;
  const std::size_t extensionUnits = n - stem;

  for (int number = 0; number < 10000; ++number) {
    WCHAR suffix[8] = {};
    if (number > 0) std::swprintf(suffix, 8, L"~%d", number);
    const std::size_t suffixUnits = std::wcslen(suffix);
    // As much of the stem as fits the folder's room and the name limit.
    std::size_t keep = stem;
    while (keep > 0 && (keep + suffixUnits + extensionUnits > room ||
                        NameSize(base, keep) + NameSize(suffix, suffixUnits) +
                                NameSize(extension, extensionUnits) >
                            kNameLimit))
      --keep;
    if (keep == 0 && stem > 0) return false;
    if (keep + suffixUnits + extensionUnits > room) return false;
    std::wmemcpy(out, base, keep);
    std::wmemcpy(out + keep, suffix, suffixUnits);
    std::wmemcpy(out + keep + suffixUnits, extension, extensionUnits);
    out[keep + suffixUnits + extensionUnits] = 0;
    if (std::wcscmp(out, name) != 0 && IsFree(out)) return true;
  }
  return false;
}

void ClearRenamedRows() {
  g_poolUsed = 0;
  g_recordedCount = 0;
  g_leftOut = 0;
  g_anyNotSaved = false;
}

void RecordRenamedRow(const WCHAR* row, const WCHAR* savedAs) {
  if (!savedAs) g_anyNotSaved = true;
  const std::size_t mark = g_poolUsed;
  const std::size_t rowAt = g_recordedCount < kMaxRecorded ? Keep(row) : kNone;
  const std::size_t savedAt = rowAt != kNone && savedAs ? Keep(savedAs) : kNone;
  if (rowAt == kNone || (savedAs && savedAt == kNone)) {
    g_poolUsed = mark;
    ++g_leftOut;
    return;
  }
  g_recorded[g_recordedCount++] = {rowAt, savedAt};
}

bool RenamedRowAt(int index, const WCHAR** row, const WCHAR** savedAs) {
  if (index < 0 || index >= g_recordedCount) return false;
  *row = g_pool + g_recorded[index].row;
  *savedAs = g_recorded[index].savedAs == kNone ? nullptr : g_pool + g_recorded[index].savedAs;
  return true;
}

int RenamedRowsLeftOut() { return g_leftOut; }

bool AnyRowNotSaved() { return g_anyNotSaved; }

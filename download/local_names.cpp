#include "download/local_names.h"

#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <vector>

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
  if (_wcsicmp(name, kManifestName) == 0 || _wcsicmp(name, kAtticName) == 0) return true;
  if (_wcsnicmp(name, L"mail", 4) != 0) return false;
  std::size_t digits = 0;
  while (name[4 + digits] >= L'0' && name[4 + digits] <= L'9') ++digits;
  return digits >= 3 && _wcsicmp(name + 4 + digits, L".txt") == 0;
}

// The run's names, folded as the file system compares them, in one open
// addressing table: a name's slot holds its offset in the pool (plus one; 0
// is empty) and a number (for a replacement's base: the next "~N" to try).
struct NameTable {
  std::vector<WCHAR> pool;
  std::vector<std::size_t> slots;
  std::vector<int> numbers;
  std::size_t used = 0;

  void Reset(std::size_t expected) {
    pool.clear();
    pool.reserve(expected * 16);
    std::size_t n = 64;
    while (n < expected * 2) n *= 2;
    slots.assign(n, 0);
    numbers.assign(n, 0);
    used = 0;
  }

  static std::size_t Hash(const WCHAR* name) {
    std::size_t h = 1469598103934665603ull & SIZE_MAX;
    for (; *name; ++name) h = (h ^ static_cast<std::size_t>(*name)) * 1099511628211ull;
    return h;
  }

  // The slot of name, or the empty slot it would take.
  std::size_t Find(const WCHAR* name) const {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = Hash(name) & mask;; i = (i + 1) & mask) {
      if (slots[i] == 0 || std::wcscmp(pool.data() + slots[i] - 1, name) == 0) return i;
    }
  }

  void Grow() {
    std::vector<std::size_t> oldSlots(slots.size() * 2, 0);
    std::vector<int> oldNumbers(slots.size() * 2, 0);
    oldSlots.swap(slots);
    oldNumbers.swap(numbers);
    for (std::size_t i = 0; i < oldSlots.size(); ++i) {
      if (!oldSlots[i]) continue;
      const std::size_t at = Find(pool.data() + oldSlots[i] - 1);
      slots[at] = oldSlots[i];
      numbers[at] = oldNumbers[i];
    }
  }

  // The name's number, added (with 0) when absent; *added tells which.
  int* Take(const WCHAR* name, bool* added) {
    if (slots.empty()) Reset(0);
    std::size_t at = Find(name);
    *added = slots[at] == 0;
    if (*added) {
      if (2 * (used + 1) > slots.size()) {
        Grow();
        at = Find(name);
      }
      slots[at] = pool.size() + 1;
      pool.insert(pool.end(), name, name + std::wcslen(name) + 1);
      ++used;
    }
    return &numbers[at];
  }

  bool Has(const WCHAR* name) const { return !slots.empty() && slots[Find(name)] != 0; }
};

NameTable g_runNames;      // the local names given out in this run
NameTable g_replacements;  // each replacement's base and its next number

// The name as the file system compares it.
void Fold(const WCHAR* name, WCHAR out[kPathUnits]) {
  std::size_t i = 0;
  for (; name[i] && i < kPathUnits - 1; ++i) {
#ifdef _WIN32
    out[i] = static_cast<WCHAR>(std::towupper(name[i]));
#else
    out[i] = name[i];
#endif
  }
  out[i] = 0;
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
int g_renamedCount = 0, g_notSavedCount = 0;

std::size_t Keep(const WCHAR* text) {
  const std::size_t n = std::wcslen(text) + 1;
  if (g_poolUsed + n > kPoolUnits) return kNone;
  std::wmemcpy(g_pool + g_poolUsed, text, n);
  g_poolUsed += n;
  return g_poolUsed - n;
}

}  // namespace

bool BeginRunNames(int rows) {
  g_runNames.Reset(rows > 0 ? static_cast<std::size_t>(rows) : 0);
  g_replacements.Reset(16);
  return true;
}

bool ClaimRunName(const WCHAR* name) {
  WCHAR folded[kPathUnits];
  Fold(name, folded);
  bool added = false;
  g_runNames.Take(folded, &added);
  return added;
}

bool IsRunName(const WCHAR* name) {
  WCHAR folded[kPathUnits];
  Fold(name, folded);
  return g_runNames.Has(folded);
}

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

  // Where the last replacement of this base stopped: each number is tried once
  // per run, not once per row.
  WCHAR folded[kPathUnits];
  Fold(base, folded);
  bool added = false;
  int* next = g_replacements.Take(folded, &added);
  for (int number = *next; number < 10000000; ++number) {
    WCHAR suffix[12] = {};
    if (number > 0) std::swprintf(suffix, 12, L"~%d", number);
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
    if (IsLocalName(out) && ClaimRunName(out)) {
      *next = number + 1;
      return true;
    }
  }
  return false;
}

void ClearRenamedRows() {
  g_poolUsed = 0;
  g_recordedCount = 0;
  g_leftOut = 0;
  g_anyNotSaved = false;
  g_renamedCount = g_notSavedCount = 0;
}

void RecordRenamedRow(const WCHAR* row, const WCHAR* savedAs) {
  if (!savedAs) g_anyNotSaved = true;
  ++(savedAs ? g_renamedCount : g_notSavedCount);
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

int RenamedRowCount() { return g_renamedCount; }

int NotSavedRowCount() { return g_notSavedCount; }

// The listing: three fixed rows for bookmarks, address book and mail, then one
// row per handset file, sorted newest first by the sort key in the item
// parameter.
#include "download/listing.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "download/field_record.h"
#include "download/transfer.h"
#include "link/frame.h"
#include "link/messages.h"
#include "platform/backup_names.h"

namespace {

struct FixedRow {
  const WCHAR* name;
  int icon;
  LPARAM sortKey;
  const WCHAR* date;
};

const FixedRow kFixedRows[] = {
    {kBookmarkFileName, kIconBookmarks, INT_MAX, L"ブックマーク"},
    {kAddressFileName, kIconAddressBook, INT_MAX - 1, L"アドレス帳"},
    {kMailRowName, kIconMail, INT_MAX - 2, L"メール"},
};
constexpr int kFixedRowCount = 3;
constexpr int kOtherCategory = 4;

// The number at position pos of a field of length len; outside the field it
// counts as 0.
int NumberAt(const char* field, std::size_t len, std::size_t pos) {
  return pos < len ? ReadDecimal(field + pos) : 0;
}

// Minutes on a calendar of 31-day months since 2000, wrapped to 32 bits as
// the handheld's int arithmetic wraps (a malformed date must not be undefined
// behaviour here).
std::int32_t SortKeyOf(const char* date) {
  const std::size_t len = std::strlen(date);
  const std::int64_t y = NumberAt(date, len, 0), mo = NumberAt(date, len, 5),
                     d = NumberAt(date, len, 8), h = NumberAt(date, len, 11),
                     mi = NumberAt(date, len, 14);
  // Each step wraps to 32 bits before the next, exactly as int would.
  auto wrap = [](std::int64_t v) {
    return static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(v)));
  };
  std::int64_t key = wrap(y - 2000);
  key = wrap(wrap(key * 12) + mo);
  key = wrap(wrap(key * 31) + d);
  key = wrap(wrap(key * 24) + h);
  key = wrap(wrap(key * 60) + mi);
  return static_cast<std::int32_t>(key);
}

int CategoryIndexOf(const char* wireName) {
  for (int i = 0; i < kCategoryCount; ++i) {
    if (std::strcmp(wireName, kCategories[i].wireName) == 0) return i;
  }
  return kOtherCategory;
}

// Converts a code-page string into a 260-unit buffer. Text that would not fit
// is cut after the longest run of whole characters that does, so a long name
// still shows its beginning.
void ToWide(const char* text, WCHAR out[kPathUnits]) {
  out[0] = 0;
  const int len = static_cast<int>(std::strlen(text));
  if (len == 0) return;
  int n = MultiByteToWideChar(CP_ACP, 0, text, len, out, kPathUnits - 1);
  if (n <= 0) {
    // Too long: find the most bytes whose conversion fits. The count of units
    // grows with the bytes taken, so a binary search finds it; that cut never
    // splits a double-byte character, whose trail byte adds no unit.
    int lo = 0, hi = len;
    while (lo < hi) {
      const int mid = lo + (hi - lo + 1) / 2;
      const int units = MultiByteToWideChar(CP_ACP, 0, text, mid, nullptr, 0);
      if (units > 0 && units <= kPathUnits - 1) {
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    n = lo > 0 ? MultiByteToWideChar(CP_ACP, 0, text, lo, out, kPathUnits - 1) : 0;
    if (n < 0) n = 0;
  }
  out[n] = 0;
}

// The listing's entries and their name bytes back to back; sized once per
// listing from the count, so a row costs no allocation of its own.
std::vector<ListingEntry> g_entries;
std::vector<char> g_nameBytes;

std::uint32_t HashText(const WCHAR* text) {
  std::uint32_t h = 2166136261u;
  for (; *text; ++text) h = (h ^ static_cast<std::uint32_t>(*text)) * 16777619u;
  return h;
}

// A size field of plain decimal digits within 64 bits.
bool ReadSize(const char* field, std::uint64_t* size) {
  if (!*field) return false;
  std::uint64_t value = 0;
  for (const char* p = field; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *size = value;
  return true;
}

// Records a row's entry; its index is the row's item parameter.
LPARAM AddEntry(std::int32_t sortKey, const WCHAR* text, const char* name, const char* size,
                const char* date) {
  ListingEntry entry = {};
  entry.sortKey = sortKey;
  entry.textHash = HashText(text);
  entry.nameAt = g_nameBytes.size();
  entry.nameBytes = name ? std::strlen(name) : 0;
  if (name) g_nameBytes.insert(g_nameBytes.end(), name, name + entry.nameBytes + 1);
  entry.sizeKnown = size && ReadSize(size, &entry.size);
  if (date && std::strlen(date) >= 16) std::memcpy(entry.date, date, 16);
  entry.decodes = true;
  if (name) {
    char back[2 * kPathUnits];
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, back, sizeof back, nullptr, nullptr);
    entry.decodes = n > 0 && static_cast<std::size_t>(n - 1) == entry.nameBytes &&
                    std::memcmp(back, name, entry.nameBytes) == 0;
  }
  g_entries.push_back(entry);
  return static_cast<LPARAM>(g_entries.size() - 1);
}

int InsertRow(int index, const WCHAR* name, int icon, LPARAM sortKey) {
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = index;
  item.iSubItem = 0;
  item.pszText = const_cast<LPWSTR>(name);
  item.iImage = icon;
  item.lParam = sortKey;
  return static_cast<int>(
      SendMessageW(g_listView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void SetColumnText(int row, int column, const WCHAR* text) {
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = const_cast<LPWSTR>(text);
  SendMessageW(g_listView, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

// The size field as a 64-bit decimal number, read as ReadDecimal reads it
// but not held at 32 bits.
void FormatExactSize(const char* field, WCHAR out[24]) {
  const char* p = field;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  std::uint64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    value =
        value > UINT64_MAX / 10 ? UINT64_MAX : value * 10 + static_cast<std::uint64_t>(*p - '0');
  char text[24];
  std::snprintf(text, sizeof text, "%s%llu", negative && value ? "-" : "",
                static_cast<unsigned long long>(value));
  int i = 0;
  for (; text[i]; ++i) out[i] = static_cast<WCHAR>(text[i]);
  out[i] = 0;
}

// Cuts the next TAB-separated field in place and returns where the one after
// it starts (the terminator when there is none).
char* CutField(char* field) {
  char* tab = std::strchr(field, '\t');
  if (!tab) return field + std::strlen(field);
  *tab = 0;
  return tab + 1;
}

}  // namespace

void FormatSize(std::int64_t n, WCHAR out[16]) {
  char text[24];
  if (n < 10000) {
    std::snprintf(text, sizeof text, "%lld", static_cast<long long>(n));
  } else {
    std::snprintf(text, sizeof text, "%lldK", static_cast<long long>((n + 999) / 1000));
  }
  int i = 0;
  for (; text[i] && i < 15; ++i) out[i] = static_cast<WCHAR>(text[i]);
  out[i] = 0;
}

const ListingEntry* FindListingEntry(LPARAM param, const WCHAR* text) {
  if (param < 0 || static_cast<std::size_t>(param) >= g_entries.size()) return nullptr;
  const ListingEntry& entry = g_entries[static_cast<std::size_t>(param)];
  return entry.textHash == HashText(text) ? &entry : nullptr;
}

const char* ListingNameBytes(const ListingEntry& entry) {
  return g_nameBytes.data() + entry.nameAt;
}

std::int32_t ListingSortKey(LPARAM param) {
  if (param < 0 || static_cast<std::size_t>(param) >= g_entries.size()) return 0;
  return g_entries[static_cast<std::size_t>(param)].sortKey;
}

int CALLBACK CompareListingRows(LPARAM a, LPARAM b, LPARAM) {
  return CompareSortKeys(ListingSortKey(a), ListingSortKey(b), 0);
}

int CALLBACK CompareSortKeys(LPARAM a, LPARAM b, LPARAM) {
  const std::int32_t ka = static_cast<std::int32_t>(a), kb = static_cast<std::int32_t>(b);
  if (ka > kb) return -1;
  if (ka < kb) return 1;
  return 0;
}

bool ListingDateTime(const WCHAR* column, FILETIME* utc) {
  // Digits at 0-3, 5-6, 8-9, 11-12 and 14-15, a separator between each.
  static const int kStart[5] = {0, 5, 8, 11, 14};
  static const int kDigits[5] = {4, 2, 2, 2, 2};
  int value[5];
  const std::size_t length = std::wcslen(column);
  if (length < 16) return false;
  for (int f = 0; f < 5; ++f) {
    value[f] = 0;
    for (int i = kStart[f]; i < kStart[f] + kDigits[f]; ++i) {
      if (column[i] < L'0' || column[i] > L'9') return false;
      value[f] = value[f] * 10 + (column[i] - L'0');
    }
    if (f > 0 && column[kStart[f] - 1] >= L'0' && column[kStart[f] - 1] <= L'9') return false;
  }
  SYSTEMTIME local = {};
  local.wYear = static_cast<WORD>(value[0]);
  local.wMonth = static_cast<WORD>(value[1]);
  local.wDay = static_cast<WORD>(value[2]);
  local.wHour = static_cast<WORD>(value[3]);
  local.wMinute = static_cast<WORD>(value[4]);
  // The conversion checks the fields: no 13th month, no 30th of February.
  FILETIME localTime;
  if (!SystemTimeToFileTime(&local, &localTime)) return false;
#ifdef _WIN32_WCE
  return LocalFileTimeToFileTime(&localTime, utc) != 0;
#else
  SYSTEMTIME universal;
  return TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal) &&
         SystemTimeToFileTime(&universal, utc);
#endif
}

Message FetchListing() {
  int count = 0;
  if (!QueryCount(kFileCount, &count)) return MSG_COMM_FILE_COUNT;

  SendMessageW(g_listView, LVM_DELETEALLITEMS, 0, 0);
  g_entries.clear();
  g_entries.reserve(static_cast<std::size_t>(count) + kFixedRowCount);
  g_nameBytes.clear();
  g_nameBytes.reserve(static_cast<std::size_t>(count) * 32);
  for (int i = 0; i < kFixedRowCount; ++i) {
    const FixedRow& row = kFixedRows[i];
    const LPARAM param =
        AddEntry(static_cast<std::int32_t>(row.sortKey), row.name, nullptr, nullptr, nullptr);
    const int index = InsertRow(i, row.name, row.icon, param);
    if (index >= 0) SetColumnText(index, 2, row.date);
  }

  if (count > 0) SendRequest(kFileList, "");
  WCHAR text[kPathUnits];
  for (int i = 0; i < count; ++i) {
    if (ReceiveResponse(kWholeFrame) < 0 || !ResponseIs(kFileList)) return MSG_COMM_FILE_NAME;
    // Acknowledged at once: the handset prepares the next item meanwhile.
    SendNextItemAck();

    char* name = reinterpret_cast<char*>(g_packet + kHeaderBytes);
    char* wireName = CutField(name);
    char* size = CutField(wireName);
    char* date = CutField(size);  // the date runs to the end, TABs and all

    const std::int32_t key = SortKeyOf(date);
    ToWide(name, text);
    const LPARAM param = AddEntry(key, text, name, size, date);
    const int index = InsertRow(i + kFixedRowCount, text, CategoryIndexOf(wireName), param);
    if (index < 0) continue;

    WCHAR sizeText[16];
    FormatSize(ReadDecimal(size), sizeText);
    SetColumnText(index, 1, sizeText);
    WCHAR exactText[24];
    FormatExactSize(size, exactText);
    SetColumnText(index, kExactSizeColumn, exactText);

    const std::size_t dateLength = std::strlen(date);
    if (dateLength > 10) date[10] = ' ';
    if (dateLength > 13) date[13] = ':';
    ToWide(date, text);
    SetColumnText(index, 2, text);
  }

  g_connected = true;
  SendMessageW(g_listView, LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&CompareListingRows));
  return nullptr;
}

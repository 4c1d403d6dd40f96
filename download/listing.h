// The handset's listing: the rows of g_listView with their icons (the
// category table) and sort keys.
#pragma once

#include <cstddef>
#include <cstdint>

#include "download/category.h"
#include "link/state.h"

// The exact size of a file row in bytes, as decimal text: a sub-item beyond
// the window's three columns (a list view without a fourth column keeps or
// drops it unseen), for front ends that print exact sizes. Empty for the
// fixed rows.
constexpr int kExactSizeColumn = 3;

Message FetchListing();

// A size as the listing shows it: the bytes below 10000, else thousands
// rounded up with a K.
void FormatSize(std::int64_t n, WCHAR out[16]);
// What the listing keeps of each row beside the list view's texts; a row's
// item parameter is its index here. The name's UTF-16 text is for showing:
// a name that does not decode (invalid Shift-JIS) would not convert back to
// the bytes the handset knows it by, so the download asks by these bytes.
struct ListingEntry {
  std::int32_t sortKey;
  std::uint32_t textHash;  // of the row's text: an entry never answers for another row
  std::size_t nameAt, nameBytes;
  std::uint64_t size;  // exact, when sizeKnown (a plain decimal size field)
  bool sizeKnown;
  bool decodes;   // the text converts back to exactly the name bytes
  char date[17];  // the date field's first 16 bytes as received ("" when shorter)
};
// The entry of a row (its item parameter and its text); null for a row the
// listing did not make (then its text is all there is).
const ListingEntry* FindListingEntry(LPARAM param, const WCHAR* text);
const char* ListingNameBytes(const ListingEntry& entry);
// The sort key of a row's item parameter (0 for one the listing did not make).
std::int32_t ListingSortKey(LPARAM param);
// LVM_SORTITEMS over the listing's item parameters: newest first.
int CALLBACK CompareListingRows(LPARAM a, LPARAM b, LPARAM unused);

// The time a row's date column names ("2005/04/01 09:30": year, month, day,
// hour and minute at the listing's positions, the handset's local time) as a
// FILETIME in UTC; false when the column holds no such date.
bool ListingDateTime(const WCHAR* column, FILETIME* utc);
int CALLBACK CompareSortKeys(LPARAM a, LPARAM b, LPARAM unused);

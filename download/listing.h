// The handset's listing: the rows of g_listView with their icons (the
// category table) and sort keys.
#pragma once

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

// The time a row's date column names ("2005/04/01 09:30": year, month, day,
// hour and minute at the listing's positions, the handset's local time) as a
// FILETIME in UTC; false when the column holds no such date.
bool ListingDateTime(const WCHAR* column, FILETIME* utc);
int CALLBACK CompareSortKeys(LPARAM a, LPARAM b, LPARAM unused);

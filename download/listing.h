// The handset's listing: the rows of g_listView with their icons (the
// category table) and sort keys.
#pragma once

#include "download/category.h"
#include "link/state.h"

Message FetchListing();

// The time a row's date column names ("2005/04/01 09:30": year, month, day,
// hour and minute at the listing's positions, the handset's local time) as a
// FILETIME in UTC; false when the column holds no such date.
bool ListingDateTime(const WCHAR* column, FILETIME* utc);
int CALLBACK CompareSortKeys(LPARAM a, LPARAM b, LPARAM unused);

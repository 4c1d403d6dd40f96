// The handset's listing: the rows of g_listView with their icons (the
// category table) and sort keys.
#pragma once

#include "download/category.h"
#include "link/state.h"

// The exact size of a file row in bytes, as decimal text: a sub-item beyond
// the window's three columns (a list view without a fourth column keeps or
// drops it unseen), for front ends that print exact sizes. Empty for the
// fixed rows.
constexpr int kExactSizeColumn = 3;

Message FetchListing();
int CALLBACK CompareSortKeys(LPARAM a, LPARAM b, LPARAM unused);

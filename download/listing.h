// The handset's listing: the rows of g_listView with their icons (the
// category table) and sort keys.
#pragma once

#include "download/category.h"
#include "link/state.h"

Message FetchListing();
int CALLBACK CompareSortKeys(LPARAM a, LPARAM b, LPARAM unused);

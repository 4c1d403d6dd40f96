// The handset's listing and the category table shared with downloads and uploads.
#pragma once

#include "link/state.h"

constexpr int kCategoryCount = 5;
constexpr int kIconBookmarks = 5;
constexpr int kIconAddressBook = 6;
constexpr int kIconMail = 7;

struct Category {
  const char* wireName;  // "image", "music", "net", "card", "other"
  const WCHAR* label;    // shown by the upload destination dialog
  int iconResource;
};
extern const Category kCategories[kCategoryCount];

Message FetchListing();
int CALLBACK CompareSortKeys(LPARAM a, LPARAM b, LPARAM unused);

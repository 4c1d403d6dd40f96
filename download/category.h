// The five handset file categories, in their wire order, and the list icons
// of the listing's rows: what the downloads, the uploads and the window share.
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

#pragma once

#include "link/state.h"

// Walks the selected rows of g_listView and downloads each to `path` (a
// 260-unit buffer: a file, or a folder ending in a backslash).
Message DownloadSelection(WCHAR* path);
// Saves the handset file name (of category 0..4) as path, with modified as its
// last write time when given.
Message DownloadFile(const WCHAR* path, int category, const WCHAR* name,
                     const FILETIME* modified = nullptr);
Message DownloadBookmarks(const WCHAR* path);
Message DownloadAddressBook(const WCHAR* path);
Message DownloadMail(WCHAR* path);

#pragma once

#include "link/state.h"

// Walks the selected rows of g_listView and downloads each to `path` (a
// 260-unit buffer: a file, or a folder ending in a backslash).
Message DownloadSelection(WCHAR* path);
Message DownloadFile(const WCHAR* path, int category, const WCHAR* name);
Message DownloadBookmarks(const WCHAR* path);
Message DownloadAddressBook(const WCHAR* path);
Message DownloadMail(WCHAR* path);

#pragma once

#include <cstddef>

#include "link/state.h"

// Walks the selected rows of g_listView and downloads each to `path` (a
// 260-unit buffer: a file, or a folder ending in a backslash).
Message DownloadSelection(WCHAR* path);
// Saves the handset file name (of category 0..4) as path, with modified as its
// last write time when given.
Message DownloadFile(const WCHAR* path, int category, const WCHAR* name,
                     const FILETIME* modified = nullptr);
// The same by the handset's own name bytes (length bytes, no terminator), as
// the listing received them.
Message DownloadFileBytes(const WCHAR* path, int category, const char* name, std::size_t length,
                          const FILETIME* modified = nullptr);
Message DownloadBookmarks(const WCHAR* path);
Message DownloadAddressBook(const WCHAR* path);
Message DownloadMail(WCHAR* path);
// Beyond mail000.txt to mail999.txt, which further mail<digits>.txt names of
// the folder belong to its mail set (those a backup's manifest records);
// null: none.
extern bool (*g_isRecordedMail)(const WCHAR* name);
// After DownloadMail: the numbers of its set (0 when the set was not
// replaced) and which of them now have their file (mail%03d.txt).
int MailFileCount();
bool MailFilePlaced(int n);

// What a folder download tells its caller (both may be null): beforeNaming
// runs once the run's names are begun (download/local_names.h), to claim
// names the run must leave alone; rowSaved after each row whose file (or
// mail set) is in place, with the row and the path it was saved at.
extern void (*g_beforeNaming)();
extern void (*g_rowSaved)(int row, const WCHAR* path);

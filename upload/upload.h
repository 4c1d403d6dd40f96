// The uploads of one local file into the handset, one step each.
#pragma once

#include "link/state.h"

int CategoryOfName(const WCHAR* name);  // 0..4 by extension

// Each upload checks its local file whole before it sends anything. The check
// alone, which sends nothing and needs no port, lets a caller check several
// files before any goes out; the upload runs it again (the file may have
// changed since). *entries: the bookmarks or vCards the file holds.
Message CheckFileUpload(const WCHAR* path, const WCHAR* name);
Message CheckBookmarkFile(const WCHAR* path, int* entries);
Message CheckAddressFile(const WCHAR* path, int* entries);
Message CheckMailFile(const WCHAR* path);

// The line of the local file the last check stopped on (1 for the first),
// when its failure is about a line (a "チェック:" message of a bookmark,
// address or mail file); 0 otherwise. Set by every check of such a file,
// the one an upload runs again too.
int CheckedLine();

// The last upload failed because the handset answered no (a name or an item
// it does not take), not because the link failed: the connection can go on.
bool UploadRefused();

Message UploadFile(const WCHAR* path, const WCHAR* name);
Message UploadBookmarks(const WCHAR* path);
Message UploadAddressBook(const WCHAR* path);
Message UploadMail(const WCHAR* path);

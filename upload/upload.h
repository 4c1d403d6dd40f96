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

Message UploadFile(const WCHAR* path, const WCHAR* name);
Message UploadBookmarks(const WCHAR* path);
Message UploadAddressBook(const WCHAR* path);
Message UploadMail(const WCHAR* path);

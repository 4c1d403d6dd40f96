// The uploads of one local file into the handset, one step each.
#pragma once

#include "link/state.h"

int CategoryOfName(const WCHAR* name);  // 0..4 by extension
Message UploadFile(const WCHAR* path, const WCHAR* name);
Message UploadBookmarks(const WCHAR* path);
Message UploadAddressBook(const WCHAR* path);
Message UploadMail(const WCHAR* path);

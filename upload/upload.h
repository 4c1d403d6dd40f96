#pragma once

#include "link/state.h"

// Upload kinds as the destination dialog returns them.
enum UploadKind {
  kUploadCancel = 0,
  kUploadFile = 1,
  kUploadBookmarks = 2,
  kUploadAddressBook = 3,
  kUploadMail = 4
};

int CategoryOfName(const WCHAR* name);  // 0..4 by extension
UploadKind DefaultUploadKind(const WCHAR* fileName);
Message UploadFile(const WCHAR* path, const WCHAR* name);
Message UploadBookmarks(const WCHAR* path);
Message UploadAddressBook(const WCHAR* path);
Message UploadMail(const WCHAR* path);

// The upload command's transfer: the upload of `kind`, then on success the
// connected flag cleared and the listing fetched again.
Message UploadAndRelist(UploadKind kind, const WCHAR* path, const WCHAR* name);

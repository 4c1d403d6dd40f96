// Folders palvo makes for a backup hold mail, addresses and photos: on
// desktop Windows they are the user's alone, as natively 0700.
#pragma once

#include <windows.h>

// CreateDirectoryW's security for such a folder: full control for the user
// and SYSTEM alone, passed on to everything made in it, nothing inherited
// from the folder above.
// Made once; null when it cannot be made (the folder then inherits).
SECURITY_ATTRIBUTES* OwnerOnlySecurity();

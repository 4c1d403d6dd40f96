// Which handset names a folder download may use as local file names on this
// platform, what a refused one is saved as, and the record of every row that
// was saved under another name or not at all.
#pragma once

#include <cstddef>

#include "link/state.h"

// The name can be a file of its own in the destination folder as it stands:
// nothing that names the folder or climbs out of it, nothing the platform
// refuses as a name (on Linux: empty, "." and "..", a slash or backslash,
// control characters, more than 255 bytes; on Windows also < > : " | ? *,
// device names such as CON or COM1.txt, a trailing dot or space, more than 255
// units), and not a name the backup folder gives a meaning of its own (the
// bookmark, address and mail files, a download's part files).
bool IsLocalName(const WCHAR* name);

// The name a refused row is saved under, at most room units: each refused
// character becomes "_" (a device name or part name gets one in front), cut
// to fit, and, where that would meet a row's own name, a name the folder
// reserves or an earlier replacement, "~1", "~2" ... before the extension.
// False when no name fits.
bool MakeLocalName(const WCHAR* name, std::size_t room, WCHAR out[kPathUnits]);

// The record of one folder download: rows saved under another name (savedAs)
// or not at all (savedAs null), in the order done. Room for a few hundred;
// the rest are only counted.
void ClearRenamedRows();
void RecordRenamedRow(const WCHAR* row, const WCHAR* savedAs);
bool RenamedRowAt(int index, const WCHAR** row, const WCHAR** savedAs);
int RenamedRowsLeftOut();
bool AnyRowNotSaved();

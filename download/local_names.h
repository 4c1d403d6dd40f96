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
// bookmark, address and mail files, a download's part files, the backup's
// manifest and attic).
bool IsLocalName(const WCHAR* name);

// The names one folder download has given out, compared as the platform's
// file system compares them (letter case folded on Windows): no two rows of
// a run share a local name, whatever their number. BeginRunNames empties the
// record and sizes it for rows; ClaimRunName takes a name for a row and is
// false when the run gave it out already.
bool BeginRunNames(int rows);
bool ClaimRunName(const WCHAR* name);
bool IsRunName(const WCHAR* name);

// The name a refused row (or one whose name another row took) is saved
// under, at most room units: each refused character becomes "_" (a device
// name or part name gets one in front), cut to fit, and, where that would
// meet a name of the run or one the folder reserves, "~1", "~2" ... before
// the extension; the name is claimed for the run. The same rows in the same
// order get the same names, and the numbering of each name goes on where
// its last replacement stopped, so n rows of one name cost O(n). False when
// no name fits.
bool MakeLocalName(const WCHAR* name, std::size_t room, WCHAR out[kPathUnits]);

// The record of one folder download: rows saved under another name (savedAs)
// or not at all (savedAs null), in the order done. Room for a few hundred;
// the rest are only counted.
void ClearRenamedRows();
void RecordRenamedRow(const WCHAR* row, const WCHAR* savedAs);
bool RenamedRowAt(int index, const WCHAR** row, const WCHAR** savedAs);
int RenamedRowsLeftOut();
bool AnyRowNotSaved();
// Of the run: rows saved under another name, rows not saved.
int RenamedRowCount();
int NotSavedRowCount();

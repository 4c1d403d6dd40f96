// The download and upload commands' logic between their dialogs, shared by the
// window and the command line: each front end runs its own dialogs (or takes
// the user's choice from its arguments) and calls these around them.
#pragma once

#include "link/state.h"
#include "upload/upload.h"

// Cuts g_lastPath in place just after its last backslash, so the next file
// dialog opens in the folder of the last pick. True when there was a
// backslash (give the dialog that folder); false: give no initial folder.
bool CutLastPathToFolder();

// Download command up to the save dialog. False when the command does nothing
// (not connected, nothing selected). Otherwise name holds the name to propose
// (the selected row's name, or "(ここに上書き)") and *several tells whether the
// rows go into a folder under their own names (several rows, or the mail row).
bool ProposeDownloadName(WCHAR name[kPathUnits], bool* several);

// Stores the save dialog's accepted path as g_lastPath: whole for one row,
// cut after its last backslash when several.
void StoreDownloadDestination(const WCHAR* chosen, bool several);

// Runs the download of the selected rows to g_lastPath through the operation
// runner with the busy box; returns the first message (already reported).
Message RunDownload();

// Stores the open dialog's accepted path as g_lastPath and copies its
// file-name part (all of it when there is no backslash) into name, ready for
// the upload destination dialog.
void StoreUploadSource(const WCHAR* chosen, WCHAR name[kPathUnits]);

// Runs the upload of g_lastPath as kind (name: the handset file name, used for
// kUploadFile) and, after success, the fresh listing, through the operation
// runner with the busy box; returns the first message (already reported).
Message RunUpload(UploadKind kind, const WCHAR* name);

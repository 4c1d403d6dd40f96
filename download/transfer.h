// Steps the downloads share: local files, count queries and copying the part
// of a frame that is still on the port.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/frame.h"

// A download's part file: write access, no sharing, always a new file (an
// earlier part file of that name is deleted first; a link or device there is
// never followed). INVALID_HANDLE_VALUE when it cannot be created.
HANDLE CreateDownloadFile(const WCHAR* path);

// Where a download writes before its file is whole: ".palvo-NAME.part" beside
// the final name (a long NAME cut), so a later run of the same download
// replaces it and a user knows it for what it is. False when it does not fit.
bool PartPath(const WCHAR* path, WCHAR part[kPathUnits]);
// True for a name of that form.
bool IsPartName(const WCHAR* name);
// Puts the part file in place of path, replacing an older file whole.
bool CommitPart(const WCHAR* part, const WCHAR* path);

// A download's local file, written under its part name and given the final
// name only once all of it arrived: an older file of that name stays as it
// was until then, and after a failure. An existing device or other non-file
// (NUL, /dev/null) is written in place.
struct LocalFile {
  HANDLE handle;
  const WCHAR* path;       // the final name
  WCHAR part[kPathUnits];  // empty: written in place
};
// False when the file cannot be created.
bool CreateLocalFile(LocalFile* file, const WCHAR* path);
// Closes the file. With keep it takes its final name, with modified as its
// last write time when given; false when that failed. Without keep the part
// file goes.
bool FinishLocalFile(LocalFile* file, bool keep, const FILETIME* modified = nullptr);

// Creates the download file at path, runs receive into it and closes it; its
// message, or "ファイルが書き込めません" when the file cannot be created (then
// nothing is asked of the handset). receive sets *ranToEnd when the transfer
// ran to its end (faulty items skipped and counted included): only then does
// the file replace an older one.
Message ReceiveIntoFile(const WCHAR* path, Message (*receive)(HANDLE file, bool* ranToEnd));

// True when all n bytes went to the file (a full disk writes short).
bool WriteAll(HANDLE file, const void* data, DWORD n);

// The most items a count may announce.
constexpr int kMaxCount = 1000000;
// A count as the handset sends it: 1 to 7 decimal digits, nothing else, at
// most kMaxCount. False for anything else.
bool ReadCount(const char* text, std::size_t length, int* count);
// Sends a count query and reads the count of its response strictly. False
// when the response did not arrive or its payload is not a count.
bool QueryCount(Request request, int* count);

void SendNextItemAck();

enum class StreamResult { kDone, kReadFailed, kWriteFailed };

// Moves n bytes from the port through the packet buffer to file, in pieces of
// at most 4096 bytes; with INVALID_HANDLE_VALUE the bytes are discarded. After
// a failed write the rest is still read off the port, so the link stays in step.
StreamResult StreamFromPort(HANDLE file, std::uint64_t n);

// Steps the downloads share: local files, count queries and copying the part
// of a frame that is still on the port.
#pragma once

#include <cstdint>

#include "link/frame.h"

// A local file for a download: write access, no sharing, overwritten if it
// exists. INVALID_HANDLE_VALUE when it cannot be created.
HANDLE CreateDownloadFile(const WCHAR* path);

// Creates the download file at path, runs receive into it and closes it; its
// message, or "ファイルが書き込めません" when the file cannot be created (then
// nothing is asked of the handset).
Message ReceiveIntoFile(const WCHAR* path, Message (*receive)(HANDLE file));

// True when all n bytes went to the file (a full disk writes short).
bool WriteAll(HANDLE file, const void* data, DWORD n);

// Sends a count query and reads the decimal count of its response. False when
// the response did not arrive.
bool QueryCount(Request request, int* count);

void SendNextItemAck();

enum class StreamResult { kDone, kReadFailed, kWriteFailed };

// Moves n bytes from the port through the packet buffer to file, in pieces of
// at most 4096 bytes; with INVALID_HANDLE_VALUE the bytes are discarded. After
// a failed write the rest is still read off the port, so the link stays in step.
StreamResult StreamFromPort(HANDLE file, std::uint64_t n);

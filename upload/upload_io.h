// What the uploads share: opening the local file, the handset's acceptance
// reply, field heads, and streaming a file through the packet buffer.
#pragma once

#include "download/field_record.h"
#include "link/frame.h"
#include "link/state.h"

// A check's outcome, with the line reader's line kept for CheckedLine() when
// it failed (0 when it passed).
Message AtCheckedLine(Message m);
// The same for a check that counts its lines itself.
Message AtLine(Message m, int line);
// Read-only with read sharing (every check and upload starts here, so a
// check's line is forgotten here too); INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenForUpload(const WCHAR* path);

// The response now in the packet buffer carries exactly the text "0".
bool ReplyAccepted();

// Receives the reply to an upload item: true when the handset accepted it.
// When it answered with a refusal, UploadRefused() tells so until the next
// upload opens its file: the link still works and the next item may go.
bool ReceiveAcceptance();

// Sends a request whose reply is read but not looked at.
void ExchangeUnchecked(Request request, const char* payload);

// Writes only a field's head at dst, for data that follows from the file;
// returns the end.
BYTE* PutFieldHead(BYTE* dst, BYTE tag, BYTE type, DWORD length);

// The local file's size: its low 32 bits in *size, the rest in *high. False
// when it cannot be read.
bool LocalFileSize(HANDLE file, DWORD* size, DWORD* high);

// Copies `size` bytes from the file's current position to the port, in pieces
// of at most 4096 bytes through the packet buffer. False when the file runs
// dry before `size` bytes or the port stops taking bytes.
bool StreamFileToPort(HANDLE file, DWORD size);

// The payload of a header-only request must fit its 32-bit length field with
// the 4 bytes that the field counts itself.
constexpr DWORD kMaxPayload = 0xFFFFFFFFu - 4;

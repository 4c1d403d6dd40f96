// Tagged field records of bookmark, light mail and mail items:
// 0x1C, then fields of 0x1E, tag, type, 32-bit little-endian length, data.
#pragma once

#include "link/state.h"

constexpr BYTE kRecordStart = 0x1C;
constexpr BYTE kFieldStart = 0x1E;
constexpr int kFieldHeaderBytes = 7;
constexpr int kFirstField = 13;  // frame offset of the first field (payload offset 1)

// Decoding in place in the packet buffer. Positions are frame offsets; `end` is
// one past the last received byte of the frame (at most the 4096th). Returns the
// field's data as a string terminated in place and advances *pos, or null with
// *pos unchanged when the tag at *pos is another one. A field with the wanted
// tag whose header or data runs past `end` is not taken and sets *bad.
char* DecodeField(int* pos, int end, BYTE tag, bool* bad);

// The field at *pos whatever its tag (mail fields after the header values go
// by position). Returns its data (terminated in place) and *length, and
// advances *pos; null with *pos unchanged when the field does not lie whole
// before `end`.
char* TakeField(int* pos, int end, DWORD* length);

// The data length of the field at pos, when its 7-byte header lies before end.
bool FieldLength(int pos, int end, DWORD* length);

// Encoding: writes one field at dst and returns the position after it.
BYTE* EncodeField(BYTE* dst, BYTE tag, BYTE type, const void* data, DWORD length);

// A decimal number read like atol (leading blanks, a sign, digits; no digits
// gives 0), held within the 32-bit range.
int ReadDecimal(const char* text);

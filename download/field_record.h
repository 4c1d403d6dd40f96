// Tagged field records of bookmark, light mail and mail items:
// 0x1C, then fields of 0x1E, tag, type, 32-bit little-endian length, data.
#pragma once

#include "link/state.h"

constexpr BYTE kRecordStart = 0x1C;
constexpr BYTE kFieldStart = 0x1E;
constexpr int kFieldHeaderBytes = 7;

// Decoding in place in the packet buffer. `end` is one past the last received
// byte of the frame (at most the 4096th). Returns the field's data as a string
// terminated in place and advances *pos, or null with *pos unchanged when the
// tag at *pos is another one. A field whose length runs past `end` sets *bad.
char* DecodeField(int* pos, int end, BYTE tag, bool* bad);

// Encoding: writes one field at dst and returns the position after it.
BYTE* EncodeField(BYTE* dst, BYTE tag, BYTE type, const void* data, DWORD length);

// A text file edited as UTF-8 (today's editors save it so) made the handset's
// text before it is checked and sent: code page 932, CR LF line ends.
#pragma once

#include "link/state.h"

// Converts the bookmark, address or mail file at path when it is UTF-8 (a
// byte order mark, or valid UTF-8 holding at least one multi-byte sequence)
// into `to`, written whole (created or overwritten); *converted tells whether
// it was. A file that is not UTF-8 is left alone and `to` is not written:
// Shift-JIS goes up byte for byte. Failures: MSG_CHECK_CHARACTER (a
// character code page 932 cannot hold: CheckedLine() is its line,
// UnconvertedCharacter() the character), MSG_CHECK_FORMAT (a byte order mark
// in front of bytes that are not UTF-8), MSG_FILE_OPEN_ERROR,
// MSG_CANNOT_WRITE. `to` is removed after a failure.
Message ConvertUtf8Text(const WCHAR* path, const WCHAR* to, bool* converted);

// The character the last conversion could not hold, zero-terminated.
const WCHAR* UnconvertedCharacter();

// The decision alone, over bytes in memory (for the fuzz target and tests):
// 1 UTF-8 to convert, 0 not UTF-8 (left as it is), -1 a byte order mark in
// front of bytes that are not UTF-8.
int Utf8TextKind(const BYTE* bytes, DWORD n);

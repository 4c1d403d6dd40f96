// Readers of the backup's own formats, each writing today's format: the
// address file as vCard 3.0, the bookmark file as a Netscape bookmark file
// (a mail file: message.h). Each reads and writes through the
// streams, reports what it could not read to problems and never stops
// early: what can be read is written.
#pragma once

#include "export/stream.h"

// vCard 2.1 in Shift-JIS (or the charset a CHARSET parameter names) to vCard
// 3.0 in UTF-8 with CR LF line ends, folded at 75 octets. Returns the number
// of cards written.
unsigned ConvertAddressBook(InStream& in, OutStream& out, Problems& problems);

struct BookmarkCounts {
  unsigned bookmarks = 0;
  unsigned folders = 0;
};
// The tab-separated bookmark file to HTML: one folder per folder number, in
// number order. Reads the input once per folder (it must rewind).
BookmarkCounts ConvertBookmarks(InStream& in, OutStream& out, Problems& problems);

enum class MailKind { kLightMail, kMail, kNotMail };

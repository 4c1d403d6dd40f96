// A backup made by "palvo get --all" (or any folder holding its files) in
// today's formats: contacts.vcf (vCard 3.0, UTF-8) from address.txt,
// bookmarks.html (a Netscape bookmark file) from bookmark.txt, mail/ with each
// mailNNN.txt as UTF-8 text, and every other file copied as it is. Reads only
// local files; the backup folder is never changed.
#pragma once

#include <string>

#include "export/stream.h"
#include "platform/win32.h"

struct ExportReport {
  bool addressBook = false;  // address.txt was there
  unsigned contacts = 0;
  bool bookmarkFile = false;  // bookmark.txt was there
  unsigned bookmarks = 0, bookmarkFolders = 0;
  unsigned lightMails = 0, mails = 0, notMails = 0;  // mailNNN.txt files
  unsigned files = 0;                                // copied as they are
  unsigned long long fileBytes = 0;
  bool incomplete = false;  // a file could not be read or written whole
  Problems problems;
};

// Exports the backup folder `from` into `to` (program paths: absolute, with
// backslashes); `to` is made when missing, one level. Returns null when the
// export ran (what it did, and each problem, in report), else why nothing
// was exported.
const WCHAR* ExportBackup(const WCHAR* from, const WCHAR* to, ExportReport* report);

// The summary for the terminal: the counts, then each problem with its file
// and line. UTF-8, lines ending in LF.
std::string ExportSummaryText(const ExportReport& report);

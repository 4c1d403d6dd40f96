// A backup made by "palvo get --all" (or any folder holding its files) in
// today's formats, with an archive to browse it all:
//   index.html, archive/      the archive (static HTML and CSS)
//   mail.mbox, mail/NNN.eml   every mail as a message (mboxrd, RFC 5322)
//   contacts.vcf              every vCard of the backup, vCard 3.0, merged
//   bookmarks.html            the bookmark file browsers import
//   files/                    every other file as it is, text in code page
//                             932 with a UTF-8 copy beside it
// Reads only local files; the backup folder is never changed. The export is
// written into a temporary folder beside OUT and put in place only when
// whole: a stop or a failure leaves OUT as it was.
#pragma once

#include <csignal>
#include <string>

#include "export/stream.h"
#include "platform/win32.h"

struct ExportOptions {
  bool force = false;     // replace an OUT that is no earlier export (kept aside)
  bool japanese = false;  // the problems and refusals worded in Japanese
  const volatile std::sig_atomic_t* stop = nullptr;  // set: give up between pieces
};

struct ExportReport {
  unsigned contactFiles = 0;  // address.txt and .vcf files read
  unsigned contacts = 0, mergedContacts = 0;
  bool bookmarkFile = false;  // bookmark.txt was there
  unsigned bookmarks = 0, bookmarkFolders = 0;
  unsigned lightMails = 0, mails = 0, notMails = 0;  // mailNNN.txt files
  unsigned long long pictograms = 0;                 // in mails, as private-use characters
  unsigned files = 0, photos = 0, utf8Copies = 0;    // under files/
  unsigned long long fileBytes = 0;
  bool manifest = false;  // palvo-backup.tsv was read
  std::string keptAside;  // with --force: where OUT's earlier content went (UTF-8)
  Problems problems;
};

// Exports the backup folder `from` into `to` (program paths: absolute, with
// backslashes); the folder holding `to` must exist. Returns null when the
// export is in place (what it holds, and each problem, in report), else why
// nothing changed: a refusal, or the file that failed and the reason.
const WCHAR* ExportBackup(const WCHAR* from, const WCHAR* to, const ExportOptions& options,
                          ExportReport* report);

// The summary for the terminal: the counts, then each problem with its file
// and line. UTF-8, lines ending in LF; in Japanese or English, as the
// problems were worded (ExportOptions::japanese).
std::string ExportSummaryText(const ExportReport& report, bool japanese);

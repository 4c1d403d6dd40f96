// The archive: static HTML pages and one style sheet, UTF-8, no script and
// nothing from the network, that open from file:// in any browser. Every
// link is relative and stays inside the export.
//   index.html              summary and the way to each list
//   archive/style.css
//   archive/mail.html       the mails, newest first
//   archive/mail/NNN.html   one mail
//   archive/contacts.html   the contacts as a table
//   archive/photos.html     the image files, scaled by the style sheet
//   archive/files.html      every file under files/ with its size and date
#pragma once

#include <string>
#include <vector>

#include "export/contacts.h"
#include "export/message.h"

struct ArchiveMail {
  std::string number;  // "007": mail/007.eml, archive/mail/007.html
  bool light = false;
  MailSummary summary;
};

struct ArchiveFile {
  std::string name;      // under files/ (UTF-8)
  std::string utf8Copy;  // its UTF-8 copy's name, or empty
  unsigned long long size = 0;
  std::string date;  // the handset's date, else the file's own
  bool photo = false;
};

struct ArchiveContent {
  std::string backupName, backupDate;
  unsigned bookmarks = 0;
  bool haveBookmarks = false;
  unsigned long long pictograms = 0;
  std::vector<ArchiveMail> mails;
  std::vector<ContactRow> contacts;
  std::vector<ArchiveFile> files;
};

std::string HtmlEscape(const std::string& text);
// The pages above but the mails' own; each page as (path, text).
std::vector<std::pair<std::string, std::string>> ArchivePages(ArchiveContent& content);
// A mail's page: the text before its body (which goes inside <pre>) and after.
std::string MailPageHead(const ArchiveMail& mail, bool bookmarks);
std::string MailPageFoot();

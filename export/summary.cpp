#include <cstdio>

#include "export/export.h"

namespace {

const char* Plural(unsigned long long n) { return n == 1 ? "" : "s"; }

}  // namespace

std::string ExportSummaryText(const ExportReport& r) {
  std::string text;
  char line[kProblemText + 64];
  const unsigned mails = r.lightMails + r.mails;
  std::snprintf(line, sizeof line,
                "exported %u contact%s, %u bookmark%s, %u mail%s; %u other file%s copied\n",
                r.contacts, Plural(r.contacts), r.bookmarks, Plural(r.bookmarks), mails,
                Plural(mails), r.files, Plural(r.files));
  text += line;
  text += "  index.html      the archive: open it in a browser\n";
  if (r.contactFiles > 0) {
    std::snprintf(line, sizeof line,
                  "  contacts.vcf    %u contact%s (vCard 3.0) from %u file%s, %u duplicate%s "
                  "merged\n",
                  r.contacts, Plural(r.contacts), r.contactFiles, Plural(r.contactFiles),
                  r.mergedContacts, Plural(r.mergedContacts));
  } else {
    std::snprintf(line, sizeof line, "  contacts.vcf    not made: no address.txt or .vcf file\n");
  }
  text += line;
  if (r.bookmarkFile) {
    std::snprintf(line, sizeof line,
                  "  bookmarks.html  %u bookmark%s in %u folder%s from bookmark.txt\n", r.bookmarks,
                  Plural(r.bookmarks), r.bookmarkFolders, Plural(r.bookmarkFolders));
  } else {
    std::snprintf(line, sizeof line, "  bookmarks.html  not made: no bookmark.txt\n");
  }
  text += line;
  if (mails > 0) {
    std::snprintf(line, sizeof line,
                  "  mail.mbox, mail/ %u light mail%s, %u mail%s; %llu pictogram%s as private-use "
                  "characters\n",
                  r.lightMails, Plural(r.lightMails), r.mails, Plural(r.mails), r.pictograms,
                  Plural(r.pictograms));
  } else {
    std::snprintf(line, sizeof line, "  mail.mbox, mail/ not made: no mail\n");
  }
  text += line;
  if (r.notMails) {
    std::snprintf(line, sizeof line,
                  "                  %u mailNNN.txt that %s no mail, kept under files/\n",
                  r.notMails, r.notMails == 1 ? "is" : "are");
    text += line;
  }
  std::snprintf(line, sizeof line,
                "  files/          %u file%s as they are (%llu bytes, %u photo%s), %u UTF-8 "
                "cop%s\n",
                r.files, Plural(r.files), r.fileBytes, r.photos, Plural(r.photos), r.utf8Copies,
                r.utf8Copies == 1 ? "y" : "ies");
  text += line;
  if (!r.manifest) text += "no palvo-backup.tsv: dates and kinds taken from the files\n";
  if (!r.keptAside.empty()) {
    text += "what the export folder held before is kept in " + r.keptAside + "\n";
  }
  const Problems& p = r.problems;
  if (p.invalidBytes() > 0) {
    std::snprintf(line, sizeof line, "%llu byte%s that were not valid text became U+FFFD\n",
                  p.invalidBytes(), Plural(p.invalidBytes()));
    text += line;
  }
  if (p.count() == 0) {
    text += "no problems\n";
    return text;
  }
  std::snprintf(line, sizeof line, "%d problem%s:\n", p.count(),
                Plural(static_cast<unsigned>(p.count())));
  text += line;
  for (int i = 0; i < p.listed(); ++i) {
    text += "  ";
    text += p.text(i);
    text += "\n";
  }
  if (p.count() > p.listed()) {
    std::snprintf(line, sizeof line, "  ... and %d more\n", p.count() - p.listed());
    text += line;
  }
  return text;
}

#include <cstdio>

#include "export/export.h"

namespace {

const char* Plural(unsigned long long n) { return n == 1 ? "" : "s"; }

// The file names stay as they are, in the same column as in English.
void JapaneseCounts(const ExportReport& r, std::string& text) {
  char line[kProblemText + 64];
  const unsigned mails = r.lightMails + r.mails;
  std::snprintf(line, sizeof line,
                "書き出し: 連絡先 %u 件、ブックマーク %u 件、メール %u 通、ほかのファイル %u "
                "個をコピーしました\n",
                r.contacts, r.bookmarks, mails, r.files);
  text += line;
  text += "  index.html      アーカイブ: ブラウザで開いてください\n";
  if (r.contactFiles > 0) {
    std::snprintf(line, sizeof line,
                  "  contacts.vcf    連絡先 %u 件 (vCard 3.0)、読んだファイル %u 個、"
                  "重複 %u 件をまとめました\n",
                  r.contacts, r.contactFiles, r.mergedContacts);
    text += line;
  } else {
    text += "  contacts.vcf    作りません: address.txt も .vcf ファイルもありません\n";
  }
  if (r.bookmarkFile) {
    std::snprintf(line, sizeof line,
                  "  bookmarks.html  bookmark.txt からブックマーク %u 件、フォルダ %u 個\n",
                  r.bookmarks, r.bookmarkFolders);
    text += line;
  } else {
    text += "  bookmarks.html  作りません: bookmark.txt がありません\n";
  }
  if (mails > 0) {
    std::snprintf(line, sizeof line,
                  "  mail.mbox, mail/ ライトメール %u 通、メール %u 通、絵文字 %llu 個は"
                  "私用領域の文字にしました\n",
                  r.lightMails, r.mails, r.pictograms);
    text += line;
  } else {
    text += "  mail.mbox, mail/ 作りません: メールがありません\n";
  }
  if (r.notMails) {
    std::snprintf(line, sizeof line,
                  "                  メールではない mailNNN.txt %u 個は files/ に置きました\n",
                  r.notMails);
    text += line;
  }
  std::snprintf(line, sizeof line,
                "  files/          ファイル %u 個をそのまま (%llu バイト、写真 %u 枚)、"
                "UTF-8 の写し %u 個\n",
                r.files, r.fileBytes, r.photos, r.utf8Copies);
  text += line;
  if (!r.manifest) text += "palvo-backup.tsv がないので、日付と種類はファイルから取りました\n";
  if (!r.keptAside.empty()) {
    text += "書き出し先に前からあったものは " + r.keptAside + " に置きました\n";
  }
  const Problems& p = r.problems;
  if (p.invalidBytes() > 0) {
    std::snprintf(line, sizeof line, "正しい文字ではない %llu バイトを U+FFFD にしました\n",
                  p.invalidBytes());
    text += line;
  }
}

}  // namespace

std::string ExportSummaryText(const ExportReport& r, bool japanese) {
  std::string text;
  char line[kProblemText + 64];
  if (japanese) {
    JapaneseCounts(r, text);
    const Problems& p = r.problems;
    if (p.count() == 0) return text + "問題なし\n";
    std::snprintf(line, sizeof line, "問題 %d 件:\n", p.count());
    text += line;
    for (int i = 0; i < p.listed(); ++i) text += std::string("  ") + p.text(i) + "\n";
    if (p.count() > p.listed()) {
      std::snprintf(line, sizeof line, "  ... ほか %d 件\n", p.count() - p.listed());
      text += line;
    }
    return text;
  }
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
                "  files/          %u file%s as %s (%llu byte%s, %u photo%s), %u UTF-8 "
                "cop%s\n",
                r.files, Plural(r.files), r.files == 1 ? "it is" : "they are", r.fileBytes,
                Plural(r.fileBytes), r.photos, Plural(r.photos), r.utf8Copies,
                r.utf8Copies == 1 ? "y" : "ies");
  text += line;
  if (!r.manifest) text += "no palvo-backup.tsv: dates and kinds taken from the files\n";
  if (!r.keptAside.empty()) {
    text += "what the export folder held before is kept in " + r.keptAside + "\n";
  }
  const Problems& p = r.problems;
  if (p.invalidBytes() > 0) {
    std::snprintf(line, sizeof line, "%llu byte%s that %s not valid text became U+FFFD\n",
                  p.invalidBytes(), Plural(p.invalidBytes()),
                  p.invalidBytes() == 1 ? "was" : "were");
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

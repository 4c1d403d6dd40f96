// Contacts made ready for phones and merged; the backup's list read by its
// fields' names.
#include "export/contacts.h"

#include <gtest/gtest.h>

#include "export/manifest.h"

namespace {

TEST(ContactsTest, HalfWidthKanaWidenedWithTheirSoundMarks) {
  const struct {
    const char *in, *out;
  } cases[] = {
      {"ﾔﾏﾀﾞ ﾀﾛｳ", "ヤマダ タロウ"},
      {"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ", "パピプペポ"},
      {"ｳﾞｧｲｵﾘﾝ", "ヴァイオリン"},
      {"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞ", "ガギグゲゴザジズゼゾ"},
      {"ﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞ", "ダヂヅデド"},
      {"ｯﾞ", "ッ゛"},  // no voiced form: the mark stays a character of its own
      {"ｱﾟ", "ア゜"},
      {"｡｢｣､･ｰ", "。「」、・ー"},
      {"abc漢字ｶﾅ", "abc漢字カナ"},
      {"ﾞ", "゛"},
  };
  for (const auto& c : cases) EXPECT_EQ(WidenKana(c.in), c.out) << c.in;
}

std::string Written(const ContactBook& book) {
  std::string text;
  OutStream out;
  out.OpenMemory(&text);
  book.Write(out);
  out.Flush();
  return text;
}

TEST(ContactsTest, DuplicatesMergedReadingsAndGroupsKept) {
  ContactBook book;
  book.Add(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:鈴木;一郎;;;\r\nTEL;TYPE=CELL:090\r\nCATEGORIES:家族\r\n"
      "FN:鈴木 一郎\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:鈴木;一郎;;;\r\nSOUND;TYPE=X-IRMC-N:ｽｽﾞｷ ｲﾁﾛｳ;;;;\r\n"
      "TEL;TYPE=CELL:090\r\nTEL:03\r\nX-GROUP:友人\r\nFN:鈴木 一郎\r\nEND:VCARD\r\n");
  // Another source: the same name, but a different N is another person.
  book.Add(
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:鈴木;;;;\r\nFN:鈴木 一郎\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nVERSION:3.0\r\nN:;;;;\r\nFN:\r\nEND:VCARD\r\n");
  EXPECT_EQ(book.size(), 4u);  // nameless cards are never merged
  EXPECT_EQ(book.merged(), 1u);
  const std::string text = Written(book);
  EXPECT_EQ(text.substr(0, text.find("END:VCARD")),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:鈴木;一郎;;;\r\nTEL;TYPE=CELL:090\r\n"
            "CATEGORIES:家族,友人\r\nFN:鈴木 "
            "一郎\r\nX-PHONETIC-LAST-NAME:スズキ\r\nX-PHONETIC-FIRST-NAME:イチロウ\r\n"
            "SORT-STRING:スズキイチロウ\r\nTEL:03\r\n");
  const std::vector<ContactRow> rows = book.Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].phones, "090, 03");
  EXPECT_EQ(rows[0].reading, "スズキイチロウ");
  EXPECT_EQ(rows[0].categories, "家族,友人");
  // Written and read again: nothing more to merge.
  ContactBook again;
  again.Add(text);
  EXPECT_EQ(Written(again), text);
}

TEST(ManifestTest, ReadByTheFieldsNamesWhateverTheirOrder) {
  const std::string list =
      "palvo 1.0\n"
      "saved time\tlocal name\tcategory\tnew field\thandset date\thandset name\r\n"
      "2026-12-09\tsky.png\timage\tx\t2006/12/24 18:05\tsky.png\r\n"
      "\t\t\t\n"
      "2026-12-09\tshort\n";
  const std::vector<BackupListEntry> entries = ParseBackupList(list.data(), list.size());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].localName, "sky.png");
  EXPECT_EQ(entries[0].category, "image");
  EXPECT_EQ(entries[0].handsetDate, "2006/12/24 18:05");
  EXPECT_EQ(entries[1].handsetDate, "");  // a short line: the fields it lacks are empty
  EXPECT_EQ(FindBackupListEntry(entries, "short"), &entries[1]);
  EXPECT_EQ(FindBackupListEntry(entries, "none"), nullptr);
  const std::string foreign = "a\tb\nc\td\n";
  EXPECT_TRUE(ParseBackupList(foreign.data(), foreign.size()).empty());
}

}  // namespace

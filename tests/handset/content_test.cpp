// The handset's own formats: content folder, bookmark/address/mail files, field
// records, and the control lines of palvo-handset.
#include "handset/content.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "handset/script.h"

namespace fs = std::filesystem;
using namespace handset;

namespace {

fs::path TempDir(const char* name) {
  fs::path d = fs::temp_directory_path() / (std::string("palvo-handset-") + name);
  fs::remove_all(d);
  fs::create_directories(d);
  return d;
}

void Put(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

std::string Get(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(HandsetContent, SampleFolderLoads) {
  Content c;
  std::string error;
  ASSERT_TRUE(LoadContent(fs::path(PALVO_SOURCE_DIR) / "handset" / "sample", &c, &error)) << error;
  EXPECT_GE(c.files.size(), 5u);
  EXPECT_EQ(c.bookmarks.size(), 3u);
  EXPECT_EQ(c.addresses.size(), 2u);
  EXPECT_EQ(c.lightMails.size(), 1u);
  EXPECT_EQ(c.mails.size(), 2u);
  for (const StoredFile& f : c.files) {
    EXPECT_EQ(f.date.size(), 16u) << f.name;
    EXPECT_EQ(f.wire, kWireNames[CategoryOfName(f.name)]) << f.name;
  }
  // dates.txt fixes dates a checkout cannot keep.
  bool found = false;
  for (const StoredFile& f : c.files)
    if (f.name == "chime.mid") found = f.date == "2004/07/07 07:07";
  EXPECT_TRUE(found);
  // Local formats round-trip byte for byte.
  fs::path sample = fs::path(PALVO_SOURCE_DIR) / "handset" / "sample";
  EXPECT_EQ(BookmarkFileText(c.bookmarks), Get(sample / "bookmarks.txt"));
  EXPECT_EQ(MailFileText(c.lightMails[0]), Get(sample / "lightmail" / "000.txt"));
  EXPECT_EQ(c.addresses[0] + c.addresses[1], Get(sample / "address.vcf"));
}

TEST(HandsetContent, BookmarkFile) {
  std::string text = BookmarkFileText({{3, 7, "A", "B"}, {19, 99, "", "u"}});
  EXPECT_EQ(text.substr(0, 50), std::string(kBookmarkComment, 50));
  EXPECT_EQ(text.substr(50), "03\t07\tA\tB\r\n19\t99\t\tu\r\n");
  std::vector<Bookmark> b;
  std::string error;
  ASSERT_TRUE(ParseBookmarkFile(text, &b, &error)) << error;
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(b[1].folder, 19);
  EXPECT_EQ(b[1].title, "");
  EXPECT_FALSE(ParseBookmarkFile("03\t07\tA\r\n", &b, &error));
  EXPECT_FALSE(ParseBookmarkFile("x3\t07\tA\tB\r\n", &b, &error));
}

TEST(HandsetContent, VCardsAndMailFiles) {
  auto cards = SplitVCards(
      "\r\nBEGIN:VCARD\nN:a\nEND:VCARD\nnoise\r\nBEGIN:VCARD\r\nEND:VCARD\r\n"
      "BEGIN:VCARD\r\nN:unterminated\r\n");
  ASSERT_EQ(cards.size(), 2u);
  EXPECT_EQ(cards[0], "BEGIN:VCARD\nN:a\nEND:VCARD\n");
  EXPECT_EQ(cards[1], "BEGIN:VCARD\r\nEND:VCARD\r\n");

  MailItem m;
  std::string error;
  ASSERT_TRUE(ParseMailFile("X-PORIKA-LIGHT:   t1,t2, t3,t4,more\r\n\r\nx\r\ny\r\nz", &m, &error));
  EXPECT_TRUE(m.light);
  EXPECT_EQ(m.header[0], "t1");
  EXPECT_EQ(m.header[2], " t3");
  EXPECT_EQ(m.header[3], "t4,more");
  EXPECT_EQ(m.line2, "y");
  EXPECT_EQ(m.body, "z");
  ASSERT_TRUE(ParseMailFile("X-PORIKA-MAIL: a,b,c,d\r\n", &m, &error));
  EXPECT_FALSE(m.light);
  EXPECT_EQ(m.body, "");
  EXPECT_FALSE(ParseMailFile("X-PORIKA-MAIL: a,b\r\n", &m, &error));
  EXPECT_FALSE(ParseMailFile("x-porika-light: a,b,c,d\r\n\r\nx\r\ny\r\n", &m, &error));
  EXPECT_FALSE(ParseMailFile("X-PORIKA-LIGHT: a,b,c,d\r\n \r\nx\r\ny\r\n", &m, &error));
  EXPECT_FALSE(ParseMailFile("", &m, &error));
}

TEST(HandsetContent, FieldRecordsAreCheckedStrictly) {
  std::string rec = BookmarkRecord({1, 5, "A", "B"});
  EXPECT_EQ(rec.size(), 35u);
  Bookmark b;
  std::string error;
  EXPECT_TRUE(BookmarkFromRecord(rec, &b, &error));
  EXPECT_FALSE(BookmarkFromRecord(rec.substr(0, 34), &b, &error));  // last field cut
  EXPECT_FALSE(BookmarkFromRecord(rec + "x", &b, &error));          // trailing byte
  std::string wrongStart = rec;
  wrongStart[0] = 0x1D;
  EXPECT_FALSE(BookmarkFromRecord(wrongStart, &b, &error));
  std::string oneDigit = EncodeRecord({{1, 2, "A"}, {2, 1, "B"}, {3, 1, "5"}, {4, 2, "01"}});
  EXPECT_FALSE(BookmarkFromRecord(oneDigit, &b, &error));
  std::string swapped = EncodeRecord({{2, 1, "B"}, {1, 2, "A"}, {3, 1, "05"}, {4, 2, "01"}});
  EXPECT_FALSE(BookmarkFromRecord(swapped, &b, &error));
  std::string longLength = rec;
  longLength[4] = 9;  // title length past the record
  EXPECT_FALSE(BookmarkFromRecord(longLength, &b, &error));

  MailItem m;
  m.light = true;
  m.body = "multi\r\nline";
  EXPECT_TRUE(MailFromRecord(MailRecord(m), true, &m, &error)) << error;
  EXPECT_FALSE(MailFromRecord(MailRecord(m), false, &m, &error));
  m.line1 = "a\r\nb";
  EXPECT_FALSE(MailFromRecord(MailRecord(m), true, &m, &error));

  EXPECT_TRUE(CheckVCardRecord("BEGIN:VCARD\r\n\r\nEND:VCARD\r\n", &error));
  EXPECT_FALSE(CheckVCardRecord("BEGIN:VCARD\r\nEND:VCARD", &error));
  EXPECT_FALSE(CheckVCardRecord("BEGIN:VCARD\r\nEND:VCARD\r\nX\r\n", &error));
  EXPECT_FALSE(
      CheckVCardRecord("BEGIN:VCARD\r\n" + std::string(4083, 'x') + "\r\nEND:VCARD\r\n", &error));
}

TEST(HandsetContent, ExtensionRule) {
  EXPECT_EQ(CategoryOfName("PHOTO.JPG"), 0);
  EXPECT_EQ(CategoryOfName("tone.MIDI"), 1);
  EXPECT_EQ(CategoryOfName("page.xhtml"), 2);
  EXPECT_EQ(CategoryOfName("me.vcf"), 3);
  EXPECT_EQ(CategoryOfName("data.json"), 4);
  EXPECT_EQ(CategoryOfName("jpg"), 4);
  EXPECT_EQ(CategoryOfName(".jpg"), 0);
}

TEST(HandsetContent, UploadsLandInTheFolder) {
  fs::path d = TempDir("save");
  ASSERT_TRUE(SaveStoredFile(d, {"x.mid", "music", "MID", ""}));
  EXPECT_EQ(Get(d / "files" / "music" / "x.mid"), "MID");
  MailItem m;
  m.header[0] = "a";
  ASSERT_TRUE(SaveMail(d, m));
  ASSERT_TRUE(SaveMail(d, m));
  EXPECT_EQ(Get(d / "mail" / "001.txt"), "X-PORIKA-MAIL: a,,,\r\n");
  ASSERT_TRUE(SaveBookmarks(d, {{0, 1, "t", "u"}}));
  ASSERT_TRUE(SaveAddresses(d, {"BEGIN:VCARD\r\nEND:VCARD\r\n"}));
  Content c;
  std::string error;
  ASSERT_TRUE(LoadContent(d, &c, &error)) << error;
  EXPECT_EQ(c.files.size(), 1u);
  EXPECT_EQ(c.mails.size(), 2u);
  EXPECT_EQ(c.bookmarks.size(), 1u);
  EXPECT_EQ(c.addresses.size(), 1u);

  Put(d / "lightmail" / "000.txt", "X-PORIKA-MAIL: a,b,c,d\r\n");  // wrong kind for its folder
  EXPECT_FALSE(LoadContent(d, &c, &error));
  EXPECT_NE(error.find("000.txt"), std::string::npos);
  EXPECT_FALSE(LoadContent(d / "missing", &c, &error));
  fs::remove_all(d);
}

TEST(HandsetScript, ControlLines) {
  std::string bytes;
  ASSERT_TRUE(Unescape("a\\tb\\r\\n\\s\\\\\\xE1", &bytes));
  EXPECT_EQ(bytes, "a\tb\r\n \\\xE1");
  EXPECT_TRUE(Unescape("\"\"", &bytes));
  EXPECT_EQ(bytes, "");
  EXPECT_FALSE(Unescape("\\x1", &bytes));
  EXPECT_FALSE(Unescape("\\q", &bytes));

  Handset h;
  Content c;
  c.files.push_back({"a.jpg", "image", "x", "2006/01/01 00:00"});
  c.files.push_back({"b.jpg", "image", "x", "2006/01/01 00:00"});
  h.SetContent(c);
  std::string error;
  EXPECT_TRUE(ApplyControlScript(h,
                                 "# comment\n\n"
                                 "item 6 1 group=7 payload=no\\sTabs\n"
                                 "item 6 3 payload=\\x83\\x65.jpg\\timage\\t1\\t\n"
                                 "reply 0/1/1 OK\\r\\n times=1\n"
                                 "refuse 8 2 reply=NG\n"
                                 "fault silence req=3/6/7 item=1 at=5\n",
                                 &error))
      << error;
  std::vector<Frame> items = h.Items(6);
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[1].group, 7u);
  EXPECT_EQ(items[1].payload, "no Tabs");
  EXPECT_EQ(items[2].payload, "");  // the gap is filled with an empty item
  EXPECT_EQ(items[3].payload, "\x83\x65.jpg\timage\t1\t");
  EXPECT_TRUE(ApplyControlLine(h, "truncate 6 1", &error));
  EXPECT_EQ(h.Items(6).size(), 1u);
  EXPECT_FALSE(ApplyControlScript(h, "reply 0/1/1 OK\nfault explode\n", &error));
  EXPECT_EQ(error.substr(0, 7), "line 2:");
  EXPECT_FALSE(ApplyControlLine(h, "reply 0/1 OK", &error));
  EXPECT_FALSE(ApplyControlLine(h, "fault delay ms=abc", &error));
  for (const char* name :
       {"noise", "extra", "bytewise", "pieces", "slow", "refuse-hello", "refuse-pin",
        "refuse-upload", "silent", "silence-listing", "vanish-listing", "vanish-download"})
    EXPECT_TRUE(ApplyFaultPreset(h, name, &error)) << name << ": " << error;
  EXPECT_FALSE(ApplyFaultPreset(h, "nope", &error));
}

}  // namespace

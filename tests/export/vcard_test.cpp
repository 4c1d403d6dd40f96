// The address file as vCard 3.0: values decoded and converted, escapes,
// folding, FN from N, and cards that cannot be read whole.
#include <gtest/gtest.h>

#include "tests/export/export_support.h"

namespace {

Converted Address(const std::string& input, unsigned* cards = nullptr) {
  return RunConverter("address.txt", input, [&](Streams& s) {
    const unsigned n = ConvertAddressBook(s.in, s.out, s.problems);
    if (cards) *cards = n;
  });
}

// One card in, its 3.0 form's properties between VERSION and END.
std::string Card(const std::vector<std::string>& properties) {
  std::string out = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
  for (const std::string& p : properties) out += p + "\r\n";
  return out + "END:VCARD\r\n";
}

std::string In(const std::string& properties) {
  return "BEGIN:VCARD\r\nVERSION:2.1\r\n" + properties + "END:VCARD\r\n";
}

struct Case {
  const char* what;
  std::string input;
  std::vector<std::string> output;
};

TEST(VcardTest, PropertiesBecomeVcard30) {
  const Case cases[] = {
      {"Shift-JIS name and a bare parameter",
       In("N;CHARSET=SHIFT_JIS:" + Sjis(L"鈴木;一郎") + "\r\nTEL;CELL:090-1111-2222\r\n"),
       {"N:鈴木;一郎", "TEL;TYPE=CELL:090-1111-2222", "FN:鈴木 一郎"}},
      {"no CHARSET is Shift-JIS too; FN kept, no N: an empty one",
       In("FN:" + Sjis(L"ｽｽﾞｷ") + "\r\n"),
       {"FN:ｽｽﾞｷ", "N:;;;;"}},
      {"quoted-printable with soft line breaks, a line break in the value",
       In("NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=SHIFT_JIS:=82=A0=\r\n=82=A2=0D=0A=82=A4\r\n"
          "N:a\r\n"),
       {"NOTE:あい\\nう", "N:a", "FN:a"}},
      {"bare QUOTED-PRINTABLE, lower-case hex, UTF-8",
       In("N;CHARSET=UTF-8;QUOTED-PRINTABLE:=e9=88=b4;x\r\n"),
       {"N:鈴;x", "FN:鈴 x"}},
      {"CHARSET=UTF-8 value",
       In("N;CHARSET=UTF-8;ENCODING=8BIT:山田;花子;;;\r\nORG;CHARSET=utf-8:株式会社\r\n"),
       {"N:山田;花子;;;", "ORG:株式会社", "FN:山田 花子"}},
      {"other charsets by name",
       In("N;CHARSET=ISO-8859-1:M\xFCller;J\r\n"),
       {"N:Müller;J", "FN:Müller J"}},
      {"text escapes: comma, semicolon, backslash; 2.1's \\; stays",
       In("NOTE:a,b;c\\d\r\nN:O\\;Neil;Pat\r\n"),
       {"NOTE:a\\,b\\;c\\\\d", "N:O\\;Neil;Pat", "FN:O\\;Neil Pat"}},
      {"a Shift-JIS trail byte 0x5C is no backslash",
       In("NOTE:" + Sjis(L"ソ表") + "\r\nN:x\r\n"),
       {"NOTE:ソ表", "N:x", "FN:x"}},
      {"unknown properties kept, their ';' too; commas escaped",
       In("X-IRMC-N;CHARSET=SHIFT_JIS:" + Sjis(L"ｽｽﾞｷ;ｲﾁﾛｳ;;;") + "\r\nX-GNO:1,2\r\nN:a\r\n"),
       {"X-IRMC-N:ｽｽﾞｷ;ｲﾁﾛｳ;;;", "X-GNO:1\\,2", "N:a", "FN:a"}},
      {"groups, TYPE lists, URL values, other parameters",
       In("item1.TEL;HOME;VOICE;TYPE=PREF:03,1234\r\nURL;VALUE=URL:http://x/?a=1,2\r\n"
          "NOTE;LANGUAGE=ja:x\r\nN:a\r\n"),
       {"item1.TEL;TYPE=HOME,VOICE,PREF:03,1234", "URL;VALUE=uri:http://x/?a=1,2",
        "NOTE;LANGUAGE=ja:x", "N:a", "FN:a"}},
      {"FN from every part of N, family first",
       In("N:Family;Given;Middle;Dr.;Jr.\r\n"),
       {"N:Family;Given;Middle;Dr.;Jr.", "FN:Dr. Family Given Middle Jr."}},
      {"BASE64 over indented lines to an empty line, and unindented",
       In("PHOTO;ENCODING=BASE64;TYPE=GIF:\r\n    R0lG\r\n    "
          "ODdh\r\n\r\nLOGO;BASE64:AAAA\r\nBBBB\r\n"
          "N:a\r\n"),
       {"PHOTO;TYPE=GIF;ENCODING=b:R0lGODdh", "LOGO;ENCODING=b:AAAABBBB", "N:a", "FN:a"}},
      {"a long parameter value with a backslash folds between characters",
       In("NOTE;X-A=\"" + std::string(60, 'q') + "\\" + Sjis(L"漢字") + "\":x\r\nN:a\r\n"),
       {"NOTE;X-A=\"" + std::string(60, 'q') + "\\漢\r\n 字\":x", "N:a", "FN:a"}},
      {"folded 2.1 line: the blank stays",
       In("NOTE:one\r\n two\r\nN:a\r\n"),
       {"NOTE:one two", "N:a", "FN:a"}},
  };
  for (const Case& c : cases) {
    unsigned cards = 0;
    const Converted r = Address(c.input, &cards);
    EXPECT_EQ(r.out, Card(c.output)) << c.what;
    EXPECT_EQ(cards, 1u) << c.what;
    EXPECT_TRUE(r.problems.empty()) << c.what << "\n" << Joined(r.problems);
  }
}

// Wide characters are never cut by a fold; every physical line keeps to 75
// octets, and unfolding gives the value back.
TEST(VcardTest, LongValuesFoldBetweenCharacters) {
  std::wstring wide;
  for (int i = 0; i < 60; ++i) wide += (i % 3 == 0) ? L"漢" : (i % 3 == 1) ? L"ｶ" : L"a";
  const std::string value = "漢ｶa";
  std::string expected;
  for (int i = 0; i < 20; ++i) expected += value;
  for (const char* name : {"NOTE", "X-LONG-PROPERTY-NAME-OF-SOME-LENGTH"}) {
    const Converted r = Address(In(std::string(name) + ":" + Sjis(wide.c_str()) + "\r\nN:a\r\n"));
    std::string unfolded;
    std::size_t start = 0;
    int lines = 0;
    while (start < r.out.size()) {
      const std::size_t end = r.out.find("\r\n", start);
      ASSERT_NE(end, std::string::npos);
      const std::string line = r.out.substr(start, end - start);
      EXPECT_LE(line.size(), 75u) << line;
      EXPECT_TRUE(IsValidUtf8(line)) << line;  // no character cut in two
      if (line[0] == ' ') {
        unfolded += line.substr(1);
      } else {
        unfolded += (unfolded.empty() ? "" : "\n") + line;
      }
      start = end + 2;
      ++lines;
    }
    EXPECT_NE(unfolded.find(std::string(name) + ":" + expected + "\n"), std::string::npos) << r.out;
    EXPECT_GE(lines, 6) << r.out;  // folded at all
  }
}

struct Broken {
  const char* what;
  std::string input;
  unsigned cards;
  std::vector<std::string> problems;  // each must appear, in order
  std::vector<std::string> kept;      // lines the output must hold
};

TEST(VcardTest, CardsThatCannotBeReadWholeAreKeptAndReported) {
  // あ, a lead byte before an ASCII byte, an unassigned pair, a lead byte at the end.
  const std::string sjisBad = "\x82\xA0\x85\x40\x85\x90\x82\r\n";
  const Broken cases[] = {
      {"a card without END at the end of the file",
       "BEGIN:VCARD\r\nN:a\r\nTEL:1\r\n",
       1,
       {"address.txt:4: card 1 has no END:VCARD"},
       {"N:a", "TEL:1", "END:VCARD"}},
      {"BEGIN:VCARD inside a card starts the next one",
       "BEGIN:VCARD\r\nN:a\r\nBEGIN:VCARD\r\nN:b\r\nEND:VCARD\r\n",
       2,
       {"address.txt:3: card 1 has no END:VCARD"},
       {"N:a", "N:b"}},
      {"a line without ':' and a bad name",
       "BEGIN:VCARD\r\nN:a\r\njunk\r\nBAD NAME:x\r\nTEL:2\r\nEND:VCARD\r\n",
       1,
       {"address.txt:3: card 1: a line without ':' left out",
        "address.txt:4: card 1: a line that is no property left out"},
       {"TEL:2"}},
      {"text outside a card, reported once",
       "hello\r\nworld\r\nBEGIN:VCARD\r\nN:a\r\nEND:VCARD\r\ntrailing:x\r\n",
       1,
       {"address.txt:1: text outside a card", "address.txt:6: text outside a card"},
       {"N:a"}},
      {"invalid Shift-JIS bytes become U+FFFD, counted",
       "BEGIN:VCARD\r\nN:x\r\nNOTE:" + sjisBad + "END:VCARD\r\n",
       1,
       {"address.txt:3: card 1: 4 bytes not valid Shift-JIS, written as U+FFFD"},
       {"NOTE:あ\xEF\xBF\xBD@\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"}},
      {"unknown CHARSET read as Shift-JIS; bad quoted-printable kept",
       "BEGIN:VCARD\r\nN;CHARSET=X-KLINGON:" + Sjis(L"名") +
           "\r\nNOTE;ENCODING=QUOTED-PRINTABLE:a=ZZb=4\r\nEND:VCARD\r\n",
       1,
       {"address.txt:2: card 1: unknown CHARSET X-KLINGON, read as Shift-JIS",
        "address.txt:3: card 1: 2 '=' not followed by two hex digits"},
       {"N:名", "NOTE:a=ZZb=4"}},
      {"control characters cannot stand in a value",
       "BEGIN:VCARD\r\nN;ENCODING=QUOTED-PRINTABLE:a=00=1Bb\r\nEND:VCARD\r\n",
       1,
       {"address.txt:2: card 1: 2 control characters left out"},
       {"N:ab"}},
      {"LF and lone CR line ends",
       "BEGIN:VCARD\nN:a\rTEL:1\nEND:VCARD",
       1,
       {},
       {"N:a", "TEL:1", "FN:a"}},
      {"an empty file", "", 0, {}, {}},
  };
  for (const Broken& c : cases) {
    unsigned cards = 99;
    const Converted r = Address(c.input, &cards);
    EXPECT_EQ(cards, c.cards) << c.what;
    const std::string problems = Joined(r.problems);
    EXPECT_EQ(r.problems.size(), c.problems.size()) << c.what << "\n" << problems;
    std::size_t at = 0;
    for (const std::string& p : c.problems) {
      at = problems.find(p, at);
      EXPECT_NE(at, std::string::npos) << c.what << ": " << p << "\n" << problems;
    }
    for (const std::string& k : c.kept)
      EXPECT_NE(r.out.find("\r\n" + k + "\r\n"), std::string::npos) << c.what << "\n" << r.out;
    // Whatever came in, every card is whole: BEGIN, VERSION, N, FN, END.
    std::size_t begins = 0, ends = 0;
    for (std::size_t p = 0;
         (p = r.out.find("BEGIN:VCARD\r\nVERSION:3.0\r\n", p)) != std::string::npos; ++p)
      ++begins;
    for (std::size_t p = 0; (p = r.out.find("\r\nEND:VCARD\r\n", p)) != std::string::npos; ++p)
      ++ends;
    EXPECT_EQ(begins, c.cards) << c.what;
    EXPECT_EQ(ends, c.cards) << c.what;
  }
}

}  // namespace

// The bookmark file as HTML, and mail files as UTF-8 text.
#include <gtest/gtest.h>

#include "tests/export/export_support.h"

namespace {

const std::string kComment = Sjis(L";フォルダ,(メモリ番号),タイトル,URL のタブ区切り") + "\r\n";

Converted Bookmarks(const std::string& input, BookmarkCounts* counts) {
  return RunConverter("bookmark.txt", input,
                      [&](Streams& s) { *counts = ConvertBookmarks(s.in, s.out, s.problems); });
}

// The entries of the HTML, one line each: "folder|URL|title", folder by folder.
std::vector<std::string> Entries(const std::string& html) {
  std::vector<std::string> entries;
  std::string folder;
  std::size_t p = 0;
  while ((p = html.find("<DT>", p)) != std::string::npos) {
    p += 4;
    if (html.compare(p, 4, "<H3>") == 0) {
      folder = html.substr(p + 4, html.find("</H3>", p) - p - 4);
    } else if (html.compare(p, 9, "<A HREF=\"") == 0) {
      const std::size_t url = p + 9, urlEnd = html.find('"', url);
      const std::size_t title = urlEnd + 2, titleEnd = html.find("</A>", title);
      entries.push_back(folder + "|" + html.substr(url, urlEnd - url) + "|" +
                        html.substr(title, titleEnd - title));
    }
  }
  return entries;
}

TEST(BookmarkExportTest, FoldersInNumberOrderWithEscapedText) {
  const struct {
    const char* what;
    std::string input;
    std::vector<std::string> entries;
    unsigned folders;
    std::vector<std::string> problems;
  } cases[] = {
      {"the download's lines, folders out of order",
       kComment + "03\t05\t" + Sjis(L"ニュース") + "\thttp://news.example.jp/\r\n" + "00\t00\t" +
           Sjis(L"天気") + "\thttp://example.jp/w/\r\n" +
           "10\t01\tTen\thttp://ten/\r\n00\t02\tZero2\thttp://z/\r\n",
       {"フォルダ00|http://example.jp/w/|天気", "フォルダ00|http://z/|Zero2",
        "フォルダ03|http://news.example.jp/|ニュース", "フォルダ10|http://ten/|Ten"},
       3,
       {}},
      {"markup characters in titles and URLs",
       kComment + "00\t00\t<b>&\"x\"</b>\thttp://x/?a=1&b=\"2\"\r\n",
       {"フォルダ00|http://x/?a=1&amp;b=&quot;2&quot;|&lt;b&gt;&amp;&quot;x&quot;&lt;/b&gt;"},
       1,
       {}},
      {"an empty title stays empty; a missing memory number; TAB runs",
       "00\t07\t\thttp://empty/\r\n  1\tNoNumber\thttp://n/\n2\t\t9\t\tNine\t\thttp://9/\t\r\n",
       {"フォルダ00|http://empty/|", "フォルダ01|http://n/|NoNumber", "フォルダ02|http://9/|Nine"},
       3,
       {}},
      {"lines that are no bookmark are reported with their line",
       kComment + "x\tt\tu\r\n00\tonly-title\r\n123\t00\tt\tu\r\n05\tA\tB\tC\r\n\r\n;c\r\n",
       {},
       0,
       {"bookmark.txt:2: not a bookmark", "bookmark.txt:3: not a bookmark",
        "bookmark.txt:4: folder number above 99", "bookmark.txt:5: not a bookmark"}},
      {"invalid Shift-JIS in a title",
       "00\t00\tA\x85\x40"
       "B\thttp://x/\r\n",
       {"フォルダ00|http://x/|A\xEF\xBF\xBD@B"},
       1,
       {"bookmark.txt:1: 1 byte not valid Shift-JIS, written as U+FFFD"}},
      {"only the comment", kComment, {}, 0, {}},
  };
  for (const auto& c : cases) {
    BookmarkCounts counts;
    const Converted r = Bookmarks(c.input, &counts);
    EXPECT_EQ(r.out.rfind("<!DOCTYPE NETSCAPE-Bookmark-file-1>\n", 0), 0u) << c.what;
    EXPECT_NE(r.out.find("charset=UTF-8"), std::string::npos) << c.what;
    EXPECT_EQ(Entries(r.out), c.entries) << c.what << "\n" << r.out;
    EXPECT_EQ(counts.bookmarks, c.entries.size()) << c.what;
    EXPECT_EQ(counts.folders, c.folders) << c.what;
    EXPECT_EQ(r.problems.size(), c.problems.size()) << c.what << "\n" << Joined(r.problems);
    for (std::size_t i = 0; i < c.problems.size() && i < r.problems.size(); ++i)
      EXPECT_EQ(r.problems[i].rfind(c.problems[i], 0), 0u) << c.what << ": " << r.problems[i];
    // Every list opened is closed.
    std::size_t open = 0, close = 0;
    for (std::size_t p = 0; (p = r.out.find("<DL><p>", p)) != std::string::npos; ++p) ++open;
    for (std::size_t p = 0; (p = r.out.find("</DL><p>", p)) != std::string::npos; ++p) ++close;
    EXPECT_EQ(open, close) << c.what;
    EXPECT_TRUE(IsValidUtf8(r.out)) << c.what;
  }
}

Converted Mail(const std::string& input, MailKind* kind) {
  return RunConverter("mail000.txt", input,
                      [&](Streams& s) { *kind = ConvertMail(s.in, s.out, s.problems); });
}

TEST(MailExportTest, ReEncodedWithLfLineEnds) {
  const struct {
    const char* what;
    std::string input;
    std::string output;
    MailKind kind;
    std::vector<std::string> problems;
  } cases[] = {
      {"light mail",
       "X-PORIKA-LIGHT: 070,2006/03/01 10:15,1,0\r\n\r\n" + Sjis(L"こんにちは") + "\r\n" +
           Sjis(L"元気？") + "\r\n" + Sjis(L"本文\r\n二行目"),
       "X-PORIKA-LIGHT: 070,2006/03/01 10:15,1,0\n\nこんにちは\n元気？\n本文\n二行目",
       MailKind::kLightMail,
       {}},
      {"mail; a lone CR stays, CRs before LF go, commas in value 4",
       "X-PORIKA-MAIL: a@b,2006/03/02 21:40,1," + Sjis(L"件名:会議,再") + "\r\n" + Sjis(L"本文") +
           "\rx\r\r\n",
       "X-PORIKA-MAIL: a@b,2006/03/02 21:40,1,件名:会議,再\n本文\rx\n",
       MailKind::kMail,
       {}},
      {"CP932's own characters",
       "X-PORIKA-MAIL: ,,,\r\n" + std::string("\x87\x40\x81\x60\xFA\x40\x83\x5C"),
       "X-PORIKA-MAIL: ,,,\n①～ⅰソ",
       MailKind::kMail,
       {}},
      {"invalid bytes, reported on their lines",
       "X-PORIKA-MAIL: a,b,c,d\r\nok\r\nbad\x85\x40\r\n\x82",
       "X-PORIKA-MAIL: a,b,c,d\nok\nbad\xEF\xBF\xBD@\n\xEF\xBF\xBD",
       MailKind::kMail,
       {"mail000.txt:3: 1 byte not valid", "mail000.txt:4: 1 byte not valid"}},
      {"a header the upload would refuse",
       "X-PORIKA-LIGHT: a,b\tc,d\r\nnot empty\r\n",
       "X-PORIKA-LIGHT: a,b\tc,d\nnot empty\n",
       MailKind::kLightMail,
       {"mail000.txt:1: the header line", "mail000.txt:2: the second line",
        "mail000.txt: a light mail that ends"}},
      {"no mail at all",
       "x-porika-mail: a,b,c,d\r\n",
       "x-porika-mail: a,b,c,d\n",
       MailKind::kNotMail,
       {"mail000.txt:1: not a mail"}},
      {"an empty file", "", "", MailKind::kNotMail, {"mail000.txt: an empty file"}},
  };
  for (const auto& c : cases) {
    MailKind kind;
    const Converted r = Mail(c.input, &kind);
    EXPECT_EQ(r.out, c.output) << c.what;
    EXPECT_EQ(kind, c.kind) << c.what;
    EXPECT_EQ(r.problems.size(), c.problems.size()) << c.what << "\n" << Joined(r.problems);
    for (std::size_t i = 0; i < c.problems.size() && i < r.problems.size(); ++i)
      EXPECT_EQ(r.problems[i].rfind(c.problems[i], 0), 0u) << c.what << ": " << r.problems[i];
  }
}

// Lines far longer than the pieces the text goes through, with characters
// and CR LF pairs across every piece boundary.
TEST(MailExportTest, LongLinesAcrossPieces) {
  std::string in = "X-PORIKA-MAIL: a,b,c,d\r\n", out = "X-PORIKA-MAIL: a,b,c,d\n";
  for (int i = 0; i < 5000; ++i) {
    in += Sjis(L"漢");
    out += "漢";
    if (i % 1500 == 1499) {
      in += "\r\n";
      out += "\n";
    }
  }
  for (int shift = 0; shift < 3; ++shift) {  // each character one byte further on
    MailKind kind;
    const Converted r = Mail(in, &kind);
    EXPECT_EQ(r.out, out);
    EXPECT_TRUE(r.problems.empty()) << Joined(r.problems);
    in.insert(24, "x");
    out.insert(23, "x");
  }
}

}  // namespace

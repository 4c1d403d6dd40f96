// The bookmark file as HTML, and mail files as messages.
#include <gtest/gtest.h>

#include "export/message.h"
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

struct Message {
  std::string eml, mbox, page;
  MailSummary summary;
  unsigned long long pictograms = 0;
  std::vector<std::string> problems;
};

Message Mail(const std::string& input, MailKind* kind) {
  Message m;
  const Converted r = RunConverter("mail000.txt", input, [&](Streams& s) {
    OutStream mbox, page;
    s.out.OpenMemory(&m.eml);
    mbox.OpenMemory(&m.mbox);
    page.OpenMemory(&m.page);
    MailOutputs out{&s.out, &mbox, &page};
    *kind = ConvertMessage(s.in, out, m.summary, &m.pictograms, s.problems);
    s.out.Flush();
    mbox.Flush();
    page.Flush();
  });
  m.problems = r.problems;
  return m;
}

std::string Base64Decode(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0, value = 0;
  for (char c : text) {
    const std::size_t v = kAlphabet.find(c);
    if (v == std::string::npos) break;
    value = (value << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

std::string HeaderLine(const std::string& eml, const std::string& name) {
  const std::size_t at = eml.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "(none)";
  return eml.substr(at + 2, eml.find("\r\n", at + 2) - at - 2);
}

// The body as the archive's page shows it; the file's own checks kept.
TEST(MailExportTest, BodyDecodedAndHeaderChecked) {
  const struct {
    const char* what;
    std::string input;
    std::string page;
    MailKind kind;
    std::vector<std::string> problems;
  } cases[] = {
      {"light mail",
       "X-PORIKA-LIGHT: 070,2006/03/01 10:15,1,0\r\n\r\n" + Sjis(L"こんにちは") + "\r\n" +
           Sjis(L"元気？") + "\r\n" + Sjis(L"本文\r\n二行目"),
       "本文\n二行目\n",
       MailKind::kLightMail,
       {}},
      {"mail; a lone CR is no line end, commas in value 4",
       "X-PORIKA-MAIL: a@b,2006/03/02 21:40,1," + Sjis(L"件名:会議,再") + "\r\n" + Sjis(L"本文") +
           "\rx\r\r\n",
       "本文x\n",
       MailKind::kMail,
       {}},
      {"CP932's own characters",
       "X-PORIKA-MAIL: ,,,\r\n" + std::string("\x87\x40\x81\x60\xFA\x40\x83\x5C"),
       "①～ⅰソ\n",
       MailKind::kMail,
       {}},
      {"invalid bytes, reported on their lines",
       "X-PORIKA-MAIL: a,b,c,d\r\nok\r\nbad\x85\x40\r\n\x82",
       "ok\nbad\xEF\xBF\xBD@\n\xEF\xBF\xBD\n",
       MailKind::kMail,
       {"mail000.txt:3: 1 byte not valid", "mail000.txt:4: 1 byte not valid"}},
      {"a header the upload would refuse",
       "X-PORIKA-LIGHT: a,b\tc,d\r\nnot empty\r\n",
       "",
       MailKind::kLightMail,
       {"mail000.txt:1: the header line", "mail000.txt:2: the second line",
        "mail000.txt: a light mail that ends"}},
      {"no mail at all",
       "x-porika-mail: a,b,c,d\r\n",
       "",
       MailKind::kNotMail,
       {"mail000.txt:1: not a mail"}},
      {"an empty file", "", "", MailKind::kNotMail, {"mail000.txt: an empty file"}},
      {"&, < and > escaped on the page",
       "X-PORIKA-MAIL: a,b,c,d\r\n<b>&</b>",
       "&lt;b&gt;&amp;&lt;/b&gt;\n",
       MailKind::kMail,
       {}},
  };
  for (const auto& c : cases) {
    MailKind kind;
    const Message m = Mail(c.input, &kind);
    EXPECT_EQ(m.page, c.page) << c.what;
    EXPECT_EQ(kind, c.kind) << c.what;
    EXPECT_EQ(m.problems.size(), c.problems.size()) << c.what << "\n" << Joined(m.problems);
    for (std::size_t i = 0; i < c.problems.size() && i < m.problems.size(); ++i)
      EXPECT_EQ(m.problems[i].rfind(c.problems[i], 0), 0u) << c.what << ": " << m.problems[i];
    if (kind == MailKind::kNotMail) {
      EXPECT_EQ(m.eml + m.mbox, "") << c.what;
    }
  }
}

// The four values by their shape, in any order.
TEST(MailExportTest, HeaderValuesByTheirShape) {
  const struct {
    std::wstring values;
    const char *date, *from, *to, *subject;
  } cases[] = {
      {L"ichiro@example.jp,2006/03/02 21:40,1,件名:会議", "Date: Thu, 02 Mar 2006 21:40:00 +0900",
       "From: ichiro@example.jp", "(none)", "Subject: =?UTF-8?B?5Lya6K2w?="},
      {L"2007/12/31 23:59:30,090-1111-2222,件名:Hello,0", "Date: Mon, 31 Dec 2007 23:59:30 +0900",
       "From: \"090-1111-2222\" <09011112222@phone.invalid>", "(none)", "Subject: Hello"},
      {L"送信,jiro@example.jp,2006/02/30 10:00,x", "(none)",
       "From: \"palvo\" <handset@phone.invalid>", "To: jiro@example.jp", "Subject: first line"},
      {L",,,", "(none)", "From: \"unknown\" <unknown@phone.invalid>", "(none)",
       "Subject: first line"},
      {L"110,1,+81 90 1234,件名:", "(none)", "From: \"+81 90 1234\" <81901234@phone.invalid>",
       "(none)", "Subject: first line"},  // a short number is no phone; an empty subject
  };
  for (const auto& c : cases) {
    MailKind kind;
    const Message m = Mail(
        "X-PORIKA-MAIL: " + Sjis(c.values.c_str()) + "\r\n\r\n  first line\r\nsecond\r\n", &kind);
    ASSERT_EQ(kind, MailKind::kMail);
    const std::string eml = "\r\n" + m.eml;
    EXPECT_EQ(HeaderLine(eml, "Date"), c.date);
    EXPECT_EQ(HeaderLine(eml, "From"), c.from);
    EXPECT_EQ(HeaderLine(eml, "To"), c.to);
    EXPECT_EQ(HeaderLine(eml, "Subject"), c.subject);
    EXPECT_NE(HeaderLine(eml, "Message-ID"), "(none)");
    EXPECT_EQ(HeaderLine(eml, "Content-Transfer-Encoding"),
              "Content-Transfer-Encoding: quoted-printable");
  }
}

TEST(MailExportTest, MboxEscapesFromLinesAndQuotedPrintableKeepsLinesShort) {
  std::string body = "From here\r\n>From there\r\nFrom\r\n";
  for (int i = 0; i < 400; ++i) body += Sjis(L"長");
  body += "  \r\n";
  MailKind kind;
  const Message m = Mail("X-PORIKA-MAIL: a,b,c,d\r\n" + body, &kind);
  EXPECT_NE(m.mbox.find("\n>From here\n>>From there\nFrom\n"), std::string::npos) << m.mbox;
  EXPECT_EQ(m.mbox.rfind("From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n", 0), 0u);
  EXPECT_EQ(m.mbox.find("\nFrom "), std::string::npos);
  std::size_t longest = 0;
  for (std::size_t at = 0, end; at < m.eml.size(); at = end + 2) {
    end = m.eml.find("\r\n", at);
    ASSERT_NE(end, std::string::npos);
    longest = std::max(longest, end - at);
  }
  EXPECT_LE(longest, 76u);
  EXPECT_NE(m.eml.find("=20\r\n"), std::string::npos);  // the trailing blanks kept
}

// Pictograms (the user-defined area) as private-use characters, counted,
// in the values and the body alike; none becomes '?' or U+FFFD.
TEST(MailExportTest, PictogramsBecomePrivateUseCharacters) {
  MailKind kind;
  const Message m =
      Mail("X-PORIKA-MAIL: a,b,c," + Sjis(L"件名:") + "\xF0\x40\r\nx\xF9\xFC\xF5\x80y", &kind);
  EXPECT_EQ(m.pictograms, 3u);
  EXPECT_EQ(m.page, "x\xEE\x9D\x97\xEE\x8F\xABy\n");  // U+E757 U+E3EB
  EXPECT_EQ(m.summary.subject, "\xEE\x80\x80");       // U+E000
  EXPECT_TRUE(m.problems.empty()) << Joined(m.problems);
}

TEST(MailExportTest, EncodedWordsStayShortAndWhole) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += i % 7 == 0 ? "a" : "漢";
  std::string out;
  OutStream s;
  s.OpenMemory(&out);
  WriteHeaderText(s, text.data(), text.size());
  s.Flush();
  std::string decoded;
  for (std::size_t at = 0; at < out.size();) {
    std::size_t end = out.find("\r\n ", at);
    if (end == std::string::npos) end = out.size();
    const std::string word = out.substr(at, end - at);
    EXPECT_LE(word.size(), 75u);
    ASSERT_EQ(word.rfind("=?UTF-8?B?", 0), 0u);
    const std::string part = Base64Decode(word.substr(10, word.size() - 12));
    EXPECT_TRUE(IsValidUtf8(part)) << word;
    decoded += part;
    at = end == out.size() ? end : end + 3;
  }
  EXPECT_EQ(decoded, text);
}

}  // namespace

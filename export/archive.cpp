#include "export/archive.h"

#include <algorithm>
#include <cstdio>

namespace {

const char kStyle[] =
    "body{font-family:sans-serif;margin:0;color:#222;background:#fafafa}\n"
    "header{background:#2b5d8a;color:#fff;padding:.6em 1em}\n"
    "header a{color:#fff;margin-right:1.2em;text-decoration:none}\n"
    "header h1{font-size:1.3em;margin:.2em 0 .4em}\n"
    "main{padding:1em}\n"
    "table{border-collapse:collapse;background:#fff}\n"
    "th,td{border:1px solid #ccc;padding:.3em .6em;text-align:left;vertical-align:top}\n"
    "th{background:#e8eef4}\n"
    "td.n{text-align:right}\n"
    "pre{white-space:pre-wrap;background:#fff;border:1px solid #ccc;padding:1em;"
    "font-family:sans-serif}\n"
    ".gallery{display:flex;flex-wrap:wrap;gap:1em}\n"
    ".gallery figure{margin:0;background:#fff;border:1px solid #ccc;padding:.5em}\n"
    ".gallery img{max-width:200px;max-height:200px;display:block}\n"
    ".counts li{margin:.3em 0}\n";

// "up" leads from the page's folder to the export's top: "", "../", "../../".
std::string Head(const std::string& title, const std::string& up, bool bookmarks) {
  std::string h = "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n<title>" +
                  HtmlEscape(title) + "</title>\n<link rel=\"stylesheet\" href=\"" + up +
                  "archive/style.css\">\n</head>\n<body>\n<header>\n<h1>" + HtmlEscape(title) +
                  "</h1>\n<nav>";
  const char* const links[][2] = {{"index.html", "概要"},
                                  {"archive/mail.html", "メール"},
                                  {"archive/contacts.html", "連絡先"},
                                  {"bookmarks.html", "ブックマーク"},
                                  {"archive/photos.html", "写真"},
                                  {"archive/files.html", "ファイル"}};
  for (const auto& l : links)
    if (bookmarks || std::string(l[0]) != "bookmarks.html")
      h += "<a href=\"" + up + l[0] + "\">" + l[1] + "</a>";
  return h + "</nav>\n</header>\n<main>\n";
}

const char kFoot[] = "</main>\n</body>\n</html>\n";

std::string Number(unsigned long long n) { return std::to_string(n); }

std::string Size(unsigned long long n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// A path under the export as an href: each byte that is not a plain path
// character percent-encoded.
std::string Href(const std::string& path) {
  std::string out;
  static const char kHex[] = "0123456789ABCDEF";
  for (char ch : path) {
    const unsigned char c = static_cast<unsigned char>(ch);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '_' || c == '.' || c == '/' || c == '~';
    if (plain) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string Index(const ArchiveContent& c) {
  unsigned photos = 0;
  for (const ArchiveFile& f : c.files) photos += f.photo ? 1 : 0;
  std::string p = Head("携帯電話のバックアップ: " + c.backupName, "", c.haveBookmarks);
  p += "<p>バックアップ: " + HtmlEscape(c.backupName) + " (" + HtmlEscape(c.backupDate) +
       ")</p>\n<ul class=\"counts\">\n";
  p += "<li><a href=\"archive/mail.html\">メール</a>: " + Number(c.mails.size()) +
       " 通 (<a href=\"mail.mbox\">mail.mbox</a>)";
  if (c.pictograms) p += ", 絵文字 " + Number(c.pictograms) + " 個";
  p += "</li>\n<li><a href=\"archive/contacts.html\">連絡先</a>: " + Number(c.contacts.size()) +
       " 件 (<a href=\"contacts.vcf\">contacts.vcf</a>)</li>\n";
  if (c.haveBookmarks)
    p += "<li><a href=\"bookmarks.html\">ブックマーク</a>: " + Number(c.bookmarks) + " 件</li>\n";
  p += "<li><a href=\"archive/photos.html\">写真</a>: " + Number(photos) + " 枚</li>\n";
  p += "<li><a href=\"archive/files.html\">ファイル</a>: " + Number(c.files.size()) +
       " 個</li>\n</ul>\n";
  return p + kFoot;
}

std::string MailList(const ArchiveContent& c) {
  std::string p = Head("メール", "../", c.haveBookmarks);
  p += "<table>\n<tr><th>日時</th><th>相手</th><th>件名</th><th>種類</th></tr>\n";
  for (const ArchiveMail& m : c.mails) {
    const std::string party =
        (m.summary.sent ? "宛先: " : "") + (m.summary.party.empty() ? "-" : m.summary.party);
    p += "<tr><td>" + HtmlEscape(m.summary.date.empty() ? "-" : m.summary.date) + "</td><td>" +
         HtmlEscape(party) + "</td><td><a href=\"mail/" + m.number + ".html\">" +
         HtmlEscape(m.summary.subject.empty() ? "(件名なし)" : m.summary.subject) +
         "</a></td><td>" + (m.light ? "ライトメール" : "メール") + "</td></tr>\n";
  }
  return p + "</table>\n" + kFoot;
}

std::string Contacts(const ArchiveContent& c) {
  std::string p = Head("連絡先", "../", c.haveBookmarks);
  p +=
      "<table>\n<tr><th>名前</th><th>読み</th><th>電話</th><th>メール</th><th>グループ</th></tr>\n";
  for (const ContactRow& r : c.contacts) {
    p += "<tr><td>" + HtmlEscape(r.name) + "</td><td>" + HtmlEscape(r.reading) + "</td><td>" +
         HtmlEscape(r.phones) + "</td><td>" + HtmlEscape(r.emails) + "</td><td>" +
         HtmlEscape(r.categories) + "</td></tr>\n";
  }
  return p + "</table>\n" + kFoot;
}

std::string Photos(const ArchiveContent& c) {
  std::string p = Head("写真", "../", c.haveBookmarks);
  p += "<div class=\"gallery\">\n";
  for (const ArchiveFile& f : c.files) {
    if (!f.photo) continue;
    const std::string href = "../files/" + Href(f.name);
    p += "<figure><a href=\"" + href + "\"><img src=\"" + href + "\" alt=\"" + HtmlEscape(f.name) +
         "\"></a><figcaption>" + HtmlEscape(f.name) + "<br>" + HtmlEscape(f.date) +
         "</figcaption></figure>\n";
  }
  return p + "</div>\n" + kFoot;
}

std::string Files(const ArchiveContent& c) {
  std::string p = Head("ファイル", "../", c.haveBookmarks);
  p +=
      "<table>\n<tr><th>名前</th><th>大きさ (バイト)</th><th>日時</th><th>UTF-8 の写し</th></tr>\n";
  for (const ArchiveFile& f : c.files) {
    p += "<tr><td><a href=\"../files/" + Href(f.name) + "\">" + HtmlEscape(f.name) +
         "</a></td><td class=\"n\">" + Size(f.size) + "</td><td>" + HtmlEscape(f.date) +
         "</td><td>";
    if (!f.utf8Copy.empty())
      p += "<a href=\"../files/" + Href(f.utf8Copy) + "\">" + HtmlEscape(f.utf8Copy) + "</a>";
    p += "</td></tr>\n";
  }
  return p + "</table>\n" + kFoot;
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ArchivePages(ArchiveContent& c) {
  // Newest first; mails without a date last, in their numbers' order.
  std::stable_sort(c.mails.begin(), c.mails.end(), [](const ArchiveMail& a, const ArchiveMail& b) {
    if (a.summary.sortKey.empty() != b.summary.sortKey.empty()) return b.summary.sortKey.empty();
    return a.summary.sortKey > b.summary.sortKey;
  });
  return {{"index.html", Index(c)},           {"archive/style.css", kStyle},
          {"archive/mail.html", MailList(c)}, {"archive/contacts.html", Contacts(c)},
          {"archive/photos.html", Photos(c)}, {"archive/files.html", Files(c)}};
}

std::string MailPageHead(const ArchiveMail& m, bool bookmarks) {
  std::string p =
      Head(m.summary.subject.empty() ? "(件名なし)" : m.summary.subject, "../../", bookmarks);
  p += "<table>\n<tr><th>日時</th><td>" + HtmlEscape(m.summary.date) + "</td></tr>\n<tr><th>" +
       (m.summary.sent ? "宛先" : "差出人") + "</th><td>" + HtmlEscape(m.summary.party) +
       "</td></tr>\n<tr><th>件名</th><td>" + HtmlEscape(m.summary.subject) +
       "</td></tr>\n<tr><th>ファイル</th><td><a href=\"../../mail/" + m.number + ".eml\">" +
       m.number + ".eml</a></td></tr>\n</table>\n<pre>";
  return p;
}

std::string MailPageFoot() { return std::string("</pre>\n") + kFoot; }

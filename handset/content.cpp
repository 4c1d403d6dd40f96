#include "handset/content.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

namespace fs = std::filesystem;

namespace handset {

const char* const kWireNames[5] = {"image", "music", "net", "card", "other"};

// ";フォルダ,(メモリ番号),タイトル,URL のタブ区切り" in Shift-JIS, CR LF.
const char kBookmarkComment[] =
    "\x3B\x83\x74\x83\x48\x83\x8B\x83\x5F\x2C\x28\x83\x81\x83\x82\x83\x8A\x94\xD4\x8D\x86\x29"
    "\x2C\x83\x5E\x83\x43\x83\x67\x83\x8B\x2C\x55\x52\x4C\x20\x82\xCC\x83\x5E\x83\x75\x8B\xE6"
    "\x90\xD8\x82\xE8\x0D\x0A";
static_assert(sizeof(kBookmarkComment) == 51);

int WireIndex(const std::string& wire) {
  for (int i = 0; i < 5; ++i)
    if (wire == kWireNames[i]) return i;
  return -1;
}

static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

static bool EndsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i)
    if (Lower(s[s.size() - tail.size() + i]) != Lower(tail[i])) return false;
  return true;
}

int CategoryOfName(const std::string& name) {
  static const std::vector<std::vector<std::string>> lists = {
      {".jpg", ".jpeg", ".jpe", ".bmp", ".gif", ".png"},
      {".midi", ".mid", ".dxm", ".adp"},
      {".htm", ".html", ".shtml", ".css", ".xht", ".xhtm", ".xhtml", ".wml", ".js", ".xml"},
      {".vcf"},
      {}};
  int result = 4;
  for (int i = 0; i < 5; ++i)
    for (const std::string& ext : lists[i])
      if (EndsWithNoCase(name, ext)) result = i;
  return result;
}

// ---- dates

static std::string FormatTimeT(std::time_t t) {
  static std::mutex mu;  // localtime has one static buffer
  std::lock_guard<std::mutex> lock(mu);
  const std::tm* tm = std::localtime(&t);
  if (!tm) return "2000/01/01 00:00";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", tm->tm_year + 1900, tm->tm_mon + 1,
                tm->tm_mday, tm->tm_hour, tm->tm_min);
  return buf;
}

std::string FormatDate(fs::file_time_type time) {
  auto sys = std::chrono::file_clock::to_sys(time);
  return FormatTimeT(std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(sys)));
}

std::string NowDate() {
  return FormatTimeT(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

// ---- whole files

bool ReadWhole(const fs::path& path, std::string* out) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  // Read at its size in one go: large files would otherwise be copied over
  // and over while a stream grows.
  const std::streamoff size = in.tellg();
  if (size >= 0 && in.seekg(0)) {
    out->resize(static_cast<std::size_t>(size));
    in.read(out->data(), size);
    if (in.gcount() == size) return true;
    in.clear();
    in.seekg(0);
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  *out = ss.str();
  return true;
}

static bool WriteWhole(const fs::path& path, const std::string& data) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out.flush());
}

// Sorted regular files of a folder (none when it does not exist).
static std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return out;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file(ec)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

static std::vector<std::string> Lines(const std::string& text);

static bool LoadMails(const fs::path& dir, bool light, std::vector<MailItem>* out,
                      std::string* error) {
  for (const fs::path& p : FilesIn(dir)) {
    if (p.extension() != ".txt") continue;
    std::string text;
    MailItem m;
    std::string why;
    if (!ReadWhole(p, &text) || !ParseMailFile(text, &m, &why)) {
      *error = p.string() + ": " + (why.empty() ? "cannot read" : why);
      return false;
    }
    if (m.light != light) {
      *error = p.string() + ": mail of the other kind";
      return false;
    }
    out->push_back(std::move(m));
  }
  return true;
}

bool LoadContent(const fs::path& dir, Content* c, std::string* error) {
  *c = Content();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *error = dir.string() + ": no such folder";
    return false;
  }
  for (int i = 0; i < 5; ++i) {
    for (const fs::path& p : FilesIn(dir / "files" / kWireNames[i])) {
      StoredFile f;
      f.name = p.filename().string();
      f.wire = kWireNames[i];
      if (!ReadWhole(p, &f.data)) {
        *error = p.string() + ": cannot read";
        return false;
      }
      f.date = FormatDate(fs::last_write_time(p, ec));
      c->files.push_back(std::move(f));
    }
  }
  std::string text;
  // dates.txt: "<wire>/<name> TAB date" lines fix dates that a checkout would
  // otherwise replace with its own time.
  if (ReadWhole(dir / "dates.txt", &text)) {
    for (const std::string& line : Lines(text)) {
      std::size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      for (StoredFile& f : c->files)
        if (f.wire + "/" + f.name == line.substr(0, tab)) f.date = line.substr(tab + 1);
    }
  }
  if (fs::exists(dir / "bookmarks.txt", ec)) {
    std::string why;
    if (!ReadWhole(dir / "bookmarks.txt", &text) || !ParseBookmarkFile(text, &c->bookmarks, &why)) {
      *error = (dir / "bookmarks.txt").string() + ": " + why;
      return false;
    }
  }
  if (fs::exists(dir / "address.vcf", ec)) {
    if (!ReadWhole(dir / "address.vcf", &text)) {
      *error = (dir / "address.vcf").string() + ": cannot read";
      return false;
    }
    c->addresses = SplitVCards(text);
  }
  return LoadMails(dir / "lightmail", true, &c->lightMails, error) &&
         LoadMails(dir / "mail", false, &c->mails, error);
}

bool SaveStoredFile(const fs::path& dir, const StoredFile& f) {
  return WriteWhole(dir / "files" / f.wire / f.name, f.data);
}

bool SaveBookmarks(const fs::path& dir, const std::vector<Bookmark>& b) {
  return WriteWhole(dir / "bookmarks.txt", BookmarkFileText(b));
}

bool SaveAddresses(const fs::path& dir, const std::vector<std::string>& cards) {
  std::string all;
  for (const std::string& c : cards) all += c;
  return WriteWhole(dir / "address.vcf", all);
}

bool SaveMail(const fs::path& dir, const MailItem& m) {
  fs::path folder = dir / (m.light ? "lightmail" : "mail");
  std::error_code ec;
  for (int n = 0; n < 100000; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "%03d.txt", n % 100000);
    if (!fs::exists(folder / name, ec)) return WriteWhole(folder / name, MailFileText(m));
  }
  return false;
}

// ---- bookmark file

std::string BookmarkFileText(const std::vector<Bookmark>& bookmarks) {
  std::string out(kBookmarkComment, sizeof kBookmarkComment - 1);
  for (const Bookmark& b : bookmarks) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%02d\t%02d\t", b.folder, b.number);
    out += prefix + b.title + "\t" + b.url + "\r\n";
  }
  return out;
}

// Lines without their CR LF / LF.
static std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string::npos ? text.size() : lf;
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = lf == std::string::npos ? text.size() : lf + 1;
  }
  return lines;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool ParseBookmarkFile(const std::string& text, std::vector<Bookmark>* out, std::string* error) {
  out->clear();
  int lineNo = 0;
  for (const std::string& line : Lines(text)) {
    ++lineNo;
    if (line.empty() || line[0] == ';') continue;
    std::vector<std::string> cols;
    std::size_t start = 0;
    for (;;) {
      std::size_t tab = line.find('\t', start);
      cols.push_back(
          line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (cols.size() != 4 || !AllDigits(cols[0]) || !AllDigits(cols[1]) || cols[0].size() > 3 ||
        cols[1].size() > 3) {
      *error = "line " + std::to_string(lineNo) + ": not folder TAB number TAB title TAB url";
      return false;
    }
    out->push_back({std::stoi(cols[0]), std::stoi(cols[1]), cols[2], cols[3]});
  }
  return true;
}

// ---- address file

std::vector<std::string> SplitVCards(const std::string& text) {
  std::vector<std::string> cards;
  std::size_t start = 0, cardStart = std::string::npos;
  while (start < text.size()) {
    std::size_t lf = text.find('\n', start);
    std::size_t next = lf == std::string::npos ? text.size() : lf + 1;
    std::string content = text.substr(start, (lf == std::string::npos ? text.size() : lf) - start);
    if (!content.empty() && content.back() == '\r') content.pop_back();
    if (cardStart == std::string::npos) {
      if (content == "BEGIN:VCARD") cardStart = start;
    } else if (content == "END:VCARD") {
      cards.push_back(text.substr(cardStart, next - cardStart));
      cardStart = std::string::npos;
    }
    start = next;
  }
  return cards;
}

// ---- mail files

static const char kLightKey[] = "X-PORIKA-LIGHT:";
static const char kMailKey[] = "X-PORIKA-MAIL:";

std::string MailFileText(const MailItem& m) {
  std::string out = std::string(m.light ? kLightKey : kMailKey) + " " + m.header[0] + "," +
                    m.header[1] + "," + m.header[2] + "," + m.header[3] + "\r\n";
  if (m.light) out += "\r\n" + m.line1 + "\r\n" + m.line2 + "\r\n";
  return out + m.body;
}

// Takes one line (without its line end) from text at *pos; false at the end.
static bool TakeLine(const std::string& text, std::size_t* pos, std::string* line) {
  if (*pos >= text.size()) return false;
  std::size_t lf = text.find('\n', *pos);
  std::size_t end = lf == std::string::npos ? text.size() : lf;
  *line = text.substr(*pos, end - *pos);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  *pos = lf == std::string::npos ? text.size() : lf + 1;
  return true;
}

bool ParseMailFile(const std::string& text, MailItem* out, std::string* error) {
  *out = MailItem();
  std::size_t pos = 0;
  std::string line;
  if (!TakeLine(text, &pos, &line)) {
    *error = "empty mail file";
    return false;
  }
  std::size_t keyLen;
  if (line.compare(0, sizeof kLightKey - 1, kLightKey) == 0) {
    out->light = true;
    keyLen = sizeof kLightKey - 1;
  } else if (line.compare(0, sizeof kMailKey - 1, kMailKey) == 0) {
    keyLen = sizeof kMailKey - 1;
  } else {
    *error = "first line is not an X-PORIKA-LIGHT: or X-PORIKA-MAIL: header";
    return false;
  }
  std::size_t p = keyLen;
  while (p < line.size() && line[p] == ' ') ++p;
  for (int i = 0; i < 3; ++i) {
    std::size_t comma = line.find(',', p);
    if (comma == std::string::npos) {
      *error = "header line has fewer than three commas";
      return false;
    }
    out->header[i] = line.substr(p, comma - p);
    p = comma + 1;
  }
  out->header[3] = line.substr(p);
  if (out->light) {
    std::string empty;
    if (!TakeLine(text, &pos, &empty) || !empty.empty() || !TakeLine(text, &pos, &out->line1) ||
        !TakeLine(text, &pos, &out->line2)) {
      *error = "light mail needs an empty line and two text lines after the header";
      return false;
    }
  }
  out->body = text.substr(pos);
  return true;
}

}  // namespace handset

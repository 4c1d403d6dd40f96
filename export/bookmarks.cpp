// The bookmark file to a Netscape bookmark file, the HTML that desktop
// browsers import.
//
// Lines are read as the bookmark upload reads them (blank lines and comments
// skipped, TAB runs between fields, the memory number optional), except that
// a line of exactly the download's shape, "NN<TAB>NN<TAB>title<TAB>URL", is
// taken column by column, so an empty title stays empty instead of the
// memory number taking its place. Folder numbers 0 to 99 are kept (the file's
// two-digit column); each present number becomes one folder, in number order.
// The input is read once to find them and once per folder.
#include <cstdio>
#include <cstring>

#include "export/convert.h"

namespace {

constexpr std::size_t kLineBytes = 16384;
constexpr int kFolders = 100;

struct Entry {
  int folder;
  const char* title;
  std::size_t titleLength;
  const char* url;
  std::size_t urlLength;
};

enum class LineKind { kSkip, kEntry, kTooLong, kFormat, kFolderRange };

struct State {
  char line[kLineBytes + 1];
  Decoder decoder;
  bool present[kFolders];
};
State g_state;

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The next line without its line end; false at the end of the input. A line
// longer than the buffer is read to its end and reported as too long.
bool ReadLine(InStream& in, char* line, std::size_t* length, bool* tooLong) {
  int c = in.Get();
  if (c == -1) return false;
  std::size_t n = 0;
  *tooLong = false;
  for (; c != -1 && c != '\n'; c = in.Get()) {
    if (n < kLineBytes) {
      line[n++] = static_cast<char>(c);
    } else {
      *tooLong = true;
    }
  }
  if (n > 0 && line[n - 1] == '\r') --n;
  line[n] = 0;
  *length = n;
  return true;
}

// A field: non-control bytes from p on.
const char* FieldEnd(const char* p) {
  while (*p && !IsControl(*p)) ++p;
  return p;
}

const char* SkipTabs(const char* p) {
  while (*p == '\t') ++p;
  return p;
}

LineKind ParseLine(const char* line, Entry* e) {
  const char* p = line;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p == 0 || IsControl(*p) || *p == ';') return LineKind::kSkip;
  if (!IsDigit(*p)) return LineKind::kFormat;
  long folder = 0;
  while (IsDigit(*p)) {
    if (folder < kFolders) folder = folder * 10 + (*p - '0');
    ++p;
  }
  if (*p != '\t') return LineKind::kFormat;
  if (folder >= kFolders) return LineKind::kFolderRange;
  e->folder = static_cast<int>(folder);

  // The download's shape: one TAB, digits, one TAB, title, one TAB, URL to
  // the end of the line.
  const char* q = p + 1;
  if (IsDigit(*q)) {
    while (IsDigit(*q)) ++q;
    if (*q == '\t') {
      const char* title = q + 1;
      const char* titleEnd = FieldEnd(title);
      const char* urlEnd = *titleEnd == '\t' ? FieldEnd(titleEnd + 1) : titleEnd;
      if (*titleEnd == '\t' && *urlEnd == 0) {
        e->title = title;
        e->titleLength = static_cast<std::size_t>(titleEnd - title);
        e->url = titleEnd + 1;
        e->urlLength = static_cast<std::size_t>(urlEnd - e->url);
        return LineKind::kEntry;
      }
    }
  }

  // The upload's reading: two or three fields between TAB runs.
  const char* first = SkipTabs(p);
  if (IsControl(*first) || *first == 0) return LineKind::kFormat;
  const char* firstEnd = FieldEnd(first);
  if (*firstEnd != '\t') return LineKind::kFormat;
  const char* second = SkipTabs(firstEnd);
  if (IsControl(*second) || *second == 0) return LineKind::kFormat;
  const char* secondEnd = FieldEnd(second);
  const char* third = *secondEnd == '\t' ? SkipTabs(secondEnd) : secondEnd;
  if (*third && !IsControl(*third)) {
    for (const char* d = first; d < firstEnd; ++d)
      if (!IsDigit(*d)) return LineKind::kFormat;  // the memory number
    e->title = second;
    e->titleLength = static_cast<std::size_t>(secondEnd - second);
    e->url = third;
    e->urlLength = static_cast<std::size_t>(FieldEnd(third) - third);
  } else {
    e->title = first;
    e->titleLength = static_cast<std::size_t>(firstEnd - first);
    e->url = second;
    e->urlLength = static_cast<std::size_t>(secondEnd - second);
  }
  return LineKind::kEntry;
}

// UTF-8 text into HTML, its markup characters as entities.
class HtmlSink final : public TextSink {
 public:
  explicit HtmlSink(OutStream* out) : out_(out) {}
  void Utf8(const char* text, std::size_t n) override {
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const char* entity = nullptr;
      switch (text[i]) {
        case '&':
          entity = "&amp;";
          break;
        case '<':
          entity = "&lt;";
          break;
        case '>':
          entity = "&gt;";
          break;
        case '"':
          entity = "&quot;";
          break;
        default:
          continue;
      }
      out_->Write(text + run, i - run);
      out_->Text(entity);
      run = i + 1;
    }
    out_->Write(text + run, n - run);
  }

 private:
  OutStream* out_;
};

void WriteText(State& s, OutStream& out, Problems& problems, unsigned long line, const char* text,
               std::size_t length) {
  HtmlSink sink(&out);
  s.decoder.Reset(kShiftJisPage);
  s.decoder.Feed(text, length, sink);
  s.decoder.Finish(sink);
  problems.AddInvalid(line, s.decoder.invalid(), kShiftJisPage);
}

}  // namespace

BookmarkCounts ConvertBookmarks(InStream& in, OutStream& out, Problems& problems) {
  State& s = g_state;
  BookmarkCounts counts;
  std::memset(s.present, 0, sizeof s.present);

  // First pass: the folders there are, and what cannot be read.
  std::size_t length = 0;
  bool tooLong = false;
  Entry e;
  for (unsigned long line = 1; ReadLine(in, s.line, &length, &tooLong); ++line) {
    if (tooLong) {
      problems.Add(line, "a line of more than %zu bytes left out",
                   "%zu バイトを超える行を除きました", kLineBytes);
      continue;
    }
    switch (ParseLine(s.line, &e)) {
      case LineKind::kEntry:
        if (!s.present[e.folder]) ++counts.folders;
        s.present[e.folder] = true;
        ++counts.bookmarks;
        break;
      case LineKind::kFormat:
        problems.Add(line, "not a bookmark (folder number, TAB, title, TAB, URL): left out",
                     "ブックマークではありません (フォルダ番号、TAB、題名、TAB、URL): 除きました");
        break;
      case LineKind::kFolderRange:
        problems.Add(line, "folder number above 99: left out",
                     "フォルダ番号が 99 を超えています: 除きました");
        break;
      default:
        break;
    }
  }

  out.Text(
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
      "<TITLE>ブックマーク</TITLE>\n"
      "<H1>ブックマーク</H1>\n"
      "<DL><p>\n");
  for (int folder = 0; folder < kFolders; ++folder) {
    if (!s.present[folder]) continue;
    char head[64];
    std::snprintf(head, sizeof head, "    <DT><H3>フォルダ%02d</H3>\n    <DL><p>\n", folder);
    out.Text(head);
    if (!in.Rewind()) {
      problems.Add(0, "the file could not be read again", "ファイルをもう一度読めませんでした");
      break;
    }
    for (unsigned long line = 1; ReadLine(in, s.line, &length, &tooLong); ++line) {
      if (tooLong || ParseLine(s.line, &e) != LineKind::kEntry || e.folder != folder) continue;
      out.Text("        <DT><A HREF=\"");
      WriteText(s, out, problems, line, e.url, e.urlLength);
      out.Text("\">");
      WriteText(s, out, problems, line, e.title, e.titleLength);
      out.Text("</A>\n");
    }
    out.Text("    </DL><p>\n");
  }
  out.Text("</DL><p>\n");
  if (in.failed())
    problems.Add(0, "the file could not be read to its end", "ファイルを最後まで読めませんでした");
  out.Flush();
  return counts;
}

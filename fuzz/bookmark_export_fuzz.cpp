// The bookmark file to HTML, on any bytes: the output is the fixed frame,
// folder headings in rising number order, and links whose text and URL hold
// no markup, as many as reported.
#include <cctype>
#include <cstring>

#include "fuzz/export_check.h"
#include "fuzz/harness.h"

namespace {

// Text between the markup: no raw markup characters, entities only ours.
bool Escaped(const std::string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '<' || s[i] == '>' || s[i] == '"' || static_cast<unsigned char>(s[i]) < 0x20)
      return false;
    if (s[i] == '&') {
      bool known = false;
      for (const char* e : {"&amp;", "&lt;", "&gt;", "&quot;"})
        known = known || s.compare(i, std::strlen(e), e) == 0;
      if (!known) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ExportRun& run = StartExportRun(data, size, "bookmark.txt");
  const BookmarkCounts counts = ConvertBookmarks(run.in, run.out, run.problems);
  const std::string& out = run.output;
  FUZZ_CHECK(ProblemsWellFormed(run.problems, "bookmark.txt"));
  FUZZ_CHECK(IsUtf8(out.data(), out.size()));

  const char* const head[] = {
      "<!DOCTYPE NETSCAPE-Bookmark-file-1>",
      "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">",
      "<TITLE>ブックマーク</TITLE>", "<H1>ブックマーク</H1>", "<DL><p>"};
  std::size_t start = 0, index = 0;
  unsigned links = 0, folders = 0;
  int lastFolder = -1;
  bool inFolder = false, ended = false;
  while (start < out.size()) {
    const std::size_t lf = out.find('\n', start);
    FUZZ_CHECK(lf != std::string::npos);
    const std::string line = out.substr(start, lf - start);
    start = lf + 1;
    FUZZ_CHECK(!ended);
    if (index < 5) {
      FUZZ_CHECK(line == head[index++]);
      continue;
    }
    const std::string heading = "    <DT><H3>フォルダ";
    if (line.rfind(heading, 0) == 0) {
      const std::size_t d = heading.size();
      FUZZ_CHECK(line.size() == d + 7 && std::isdigit(static_cast<unsigned char>(line[d])) &&
                 std::isdigit(static_cast<unsigned char>(line[d + 1])) &&
                 line.compare(d + 2, 5, "</H3>") == 0);
      const int folder = (line[d] - '0') * 10 + (line[d + 1] - '0');
      FUZZ_CHECK(!inFolder && folder > lastFolder && folder < 100);
      lastFolder = folder;
      ++folders;
      inFolder = true;
      continue;
    }
    if (line == "    <DL><p>") continue;
    if (line == "    </DL><p>") {
      FUZZ_CHECK(inFolder);
      inFolder = false;
      continue;
    }
    if (line == "</DL><p>") {
      FUZZ_CHECK(!inFolder);
      ended = true;
      continue;
    }
    const std::string open = "        <DT><A HREF=\"";
    FUZZ_CHECK(inFolder && line.rfind(open, 0) == 0);
    const std::size_t quote = line.find("\">", open.size());
    FUZZ_CHECK(quote != std::string::npos && line.size() >= 4 &&
               line.compare(line.size() - 4, 4, "</A>") == 0 && quote + 2 <= line.size() - 4);
    FUZZ_CHECK(Escaped(line.substr(open.size(), quote - open.size())));
    FUZZ_CHECK(Escaped(line.substr(quote + 2, line.size() - 4 - quote - 2)));
    ++links;
  }
  FUZZ_CHECK(ended);
  FUZZ_CHECK(links == counts.bookmarks && folders == counts.folders);
  return 0;
}

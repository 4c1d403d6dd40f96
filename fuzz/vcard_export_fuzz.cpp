// The address file's vCards to vCard 3.0, on any bytes: whatever comes in,
// the output must be cards a 3.0 reader takes: UTF-8, CR LF, folded at 75
// octets, every content line a name and a ':', every card with VERSION, N
// and FN, as many cards as reported.
#include <cctype>
#include <cstring>

#include "fuzz/export_check.h"
#include "fuzz/harness.h"

namespace {

bool IsName(const std::string& line, std::size_t* end) {
  std::size_t i = 0;
  auto token = [&]() {
    const std::size_t start = i;
    while (i < line.size() && (std::isalnum(static_cast<unsigned char>(line[i])) || line[i] == '-'))
      ++i;
    return i > start;
  };
  if (!token()) return false;
  if (i < line.size() && line[i] == '.') {
    ++i;
    if (!token()) return false;
  }
  *end = i;
  return i < line.size() && (line[i] == ':' || line[i] == ';');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ExportRun& run = StartExportRun(data, size, "address.txt");
  const unsigned cards = ConvertAddressBook(run.in, run.out, run.problems);
  const std::string& out = run.output;
  FUZZ_CHECK(ProblemsWellFormed(run.problems, "address.txt"));
  FUZZ_CHECK(IsUtf8(out.data(), out.size()));
  FUZZ_CHECK(out.empty() || out.size() >= 2);
  FUZZ_CHECK(out.empty() || out.compare(out.size() - 2, 2, "\r\n") == 0);

  // Physical lines, then content lines unfolded.
  std::string logical;
  bool inCard = false, haveN = false, haveFn = false;
  unsigned seen = 0;
  auto finish = [&](const std::string& line) {
    if (line == "BEGIN:VCARD") {
      FUZZ_CHECK(!inCard);
      inCard = true;
      haveN = haveFn = false;
      return;
    }
    FUZZ_CHECK(inCard);
    if (line == "END:VCARD") {
      FUZZ_CHECK(haveN && haveFn);
      inCard = false;
      ++seen;
      return;
    }
    std::size_t end = 0;
    FUZZ_CHECK(IsName(line, &end));
    // Names keep their letter case; they compare without it.
    std::string name = line.substr(0, end);
    name.erase(0, name.find('.') == std::string::npos ? 0 : name.find('.') + 1);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "N") haveN = true;
    if (name == "FN") haveFn = true;
    for (char c : line) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 || c == '\t');
  };
  bool afterBegin = false;
  for (std::size_t start = 0; start < out.size();) {
    const std::size_t crlf = out.find("\r\n", start);
    FUZZ_CHECK(crlf != std::string::npos);
    const std::string line = out.substr(start, crlf - start);
    FUZZ_CHECK(line.size() <= 75);
    FUZZ_CHECK(IsUtf8(line.data(), line.size()));  // no character cut by a fold
    FUZZ_CHECK(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
    if (!line.empty() && line[0] == ' ') {
      FUZZ_CHECK(!logical.empty());
      logical += line.substr(1);
    } else {
      if (!logical.empty()) finish(logical);
      if (afterBegin) FUZZ_CHECK(line == "VERSION:3.0");
      afterBegin = line == "BEGIN:VCARD";
      logical = line;
      FUZZ_CHECK(!logical.empty());
    }
    start = crlf + 2;
  }
  if (!logical.empty()) finish(logical);
  FUZZ_CHECK(!inCard);
  FUZZ_CHECK(seen == cards);
  return 0;
}

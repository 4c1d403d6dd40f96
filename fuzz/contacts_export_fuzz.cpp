// Cards of any bytes, converted to 3.0 and merged: what is written is still
// cards a 3.0 reader takes (UTF-8, CR LF, lines of at most 75 octets, each
// card with N and FN), no more of them than were converted, and reading the
// output back merges nothing more.
#include <cstring>

#include "export/contacts.h"
#include "fuzz/export_check.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ExportRun& run = StartExportRun(data, size, "me.vcf");
  const unsigned converted = ConvertAddressBook(run.in, run.out, run.problems);
  static ContactBook book;
  book = ContactBook();
  book.Add(run.output);
  FUZZ_CHECK(book.size() + book.merged() == converted);
  static std::string merged;
  merged.clear();
  static OutStream out;
  out.OpenMemory(&merged);
  book.Write(out);
  out.Flush();
  FUZZ_CHECK(IsUtf8(merged.data(), merged.size()));
  unsigned begins = 0;
  bool n = false, fn = false;
  for (std::size_t at = 0; at < merged.size();) {
    const std::size_t end = merged.find("\r\n", at);
    FUZZ_CHECK(end != std::string::npos);
    FUZZ_CHECK(end - at <= 75);
    const std::string line = merged.substr(at, end - at);
    if (line == "BEGIN:VCARD") {
      ++begins;
      n = fn = false;
    }
    n = n || line.rfind("N:", 0) == 0 || line.rfind("N;", 0) == 0;
    fn = fn || line.rfind("FN:", 0) == 0 || line.rfind("FN;", 0) == 0;
    if (line == "END:VCARD") FUZZ_CHECK(n && fn);
    at = end + 2;
  }
  FUZZ_CHECK(begins == book.size());
  static ContactBook again;
  again = ContactBook();
  again.Add(merged);
  FUZZ_CHECK(again.size() == book.size());
  return 0;
}

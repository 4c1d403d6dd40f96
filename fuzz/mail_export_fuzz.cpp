// A mail file to UTF-8 text, on any bytes: the output is UTF-8 with every
// line end of the input and no CR LF left; ASCII comes out as it went in but
// for CR LF.
#include <algorithm>
#include <cstring>

#include "fuzz/export_check.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ExportRun& run = StartExportRun(data, size, "mail000.txt");
  const MailKind kind = ConvertMail(run.in, run.out, run.problems);
  const std::string& out = run.output;
  FUZZ_CHECK(ProblemsWellFormed(run.problems, "mail000.txt"));
  FUZZ_CHECK(IsUtf8(out.data(), out.size()));
  FUZZ_CHECK(out.find("\r\n") == std::string::npos);
  const char* in = reinterpret_cast<const char*>(data);
  FUZZ_CHECK(std::count(out.begin(), out.end(), '\n') == std::count(in, in + size, '\n'));
  const bool ascii = std::all_of(data, data + size, [](std::uint8_t b) { return b < 0x80; });
  if (ascii) {
    std::string expected;
    for (std::size_t i = 0; i < size; ++i) {
      std::size_t j = i;
      while (j < size && in[j] == '\r') ++j;
      if (j > i && j < size && in[j] == '\n') {
        i = j - 1;  // CRs before an LF end the line with it
        continue;
      }
      expected += in[i];
    }
    FUZZ_CHECK(out == expected);
    FUZZ_CHECK(run.problems.invalidBytes() == 0);
  }
  const bool light = size >= 15 && std::memcmp(data, "X-PORIKA-LIGHT:", 15) == 0;
  const bool mail = !light && size >= 14 && std::memcmp(data, "X-PORIKA-MAIL:", 14) == 0;
  FUZZ_CHECK(kind == (light ? MailKind::kLightMail : mail ? MailKind::kMail : MailKind::kNotMail));
  return 0;
}

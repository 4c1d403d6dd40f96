// A mail file as a message, on any bytes: the message is ASCII with CR LF
// line ends, no line over 78 octets in the body nor 998 anywhere; the mbox
// has one "From " line, its first; the page is UTF-8; the kind is the one
// the first line names, and no mail writes nothing.
#include <cstring>

#include "export/message.h"
#include "fuzz/export_check.h"
#include "fuzz/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ExportRun& run = StartExportRun(data, size, "mail000.txt");
  static std::string mbox, page;
  mbox.clear();
  page.clear();
  static OutStream mboxOut, pageOut;
  mboxOut.OpenMemory(&mbox);
  pageOut.OpenMemory(&page);
  MailOutputs outputs{&run.out, &mboxOut, &pageOut};
  MailSummary summary;
  unsigned long long pictograms = 0;
  const MailKind kind = ConvertMessage(run.in, outputs, summary, &pictograms, run.problems);
  run.out.Flush();
  mboxOut.Flush();
  pageOut.Flush();
  const std::string& eml = run.output;
  FUZZ_CHECK(ProblemsWellFormed(run.problems, "mail000.txt"));
  FUZZ_CHECK(IsUtf8(page.data(), page.size()));
  FUZZ_CHECK(IsUtf8(summary.subject.data(), summary.subject.size()));
  const bool light = size >= 15 && std::memcmp(data, "X-PORIKA-LIGHT:", 15) == 0;
  const bool mail = !light && size >= 14 && std::memcmp(data, "X-PORIKA-MAIL:", 14) == 0;
  FUZZ_CHECK(kind == (light ? MailKind::kLightMail : mail ? MailKind::kMail : MailKind::kNotMail));
  if (kind == MailKind::kNotMail) {
    FUZZ_CHECK(eml.empty() && mbox.empty() && page.empty());
    return 0;
  }
  bool body = false;
  for (std::size_t at = 0; at < eml.size();) {
    const std::size_t end = eml.find("\r\n", at);
    FUZZ_CHECK(end != std::string::npos);
    for (std::size_t i = at; i < end; ++i) {
      const unsigned char c = static_cast<unsigned char>(eml[i]);
      FUZZ_CHECK(c >= 0x20 && c < 0x7F);
    }
    FUZZ_CHECK(end - at <= (body ? 76u : 998u));
    if (end == at) body = true;
    at = end + 2;
  }
  FUZZ_CHECK(body);
  FUZZ_CHECK(mbox.rfind("From ", 0) == 0);
  FUZZ_CHECK(mbox.find("\nFrom ") == std::string::npos);
  return 0;
}

// A mail file to UTF-8 text with LF line ends: every byte re-encoded, CR LF
// (CR CR LF too) made LF, nothing else changed (the header line stays the
// first line). The header is checked as the mail upload reads it, so a file
// the handset would refuse is reported.
#include <cstring>

#include "export/convert.h"

namespace {

constexpr char kLightKey[] = "X-PORIKA-LIGHT:";
constexpr char kMailKey[] = "X-PORIKA-MAIL:";
constexpr std::size_t kKeyBytes = sizeof kLightKey - 1;

class FileSink final : public TextSink {
 public:
  explicit FileSink(OutStream* out) : out_(out) {}
  void Utf8(const char* text, std::size_t n) override { out_->Write(text, n); }

 private:
  OutStream* out_;
};

struct State {
  Decoder decoder;
  BYTE piece[kExportPiece];
};
State g_state;

// What the header's first lines show, byte by byte.
struct HeaderCheck {
  char key[kKeyBytes];
  std::size_t keyBytes = 0;
  int commas = 0;
  int firstControl = -2;  // the first control byte of line 1; -1 its end of file
  int line2First = -2;    // the first byte of line 2
  unsigned long lines = 0;

  void Byte(unsigned long line, int c) {
    if (line == 1) {
      if (keyBytes < kKeyBytes) key[keyBytes++] = static_cast<char>(c);
      if (firstControl == -2) {
        if (c < 0x20) {
          firstControl = c;
        } else if (c == ',') {
          ++commas;
        }
      }
    } else if (line == 2 && line2First == -2) {
      line2First = c;
    }
  }
  bool Starts(const char* k) const {
    const std::size_t n = std::strlen(k);
    return keyBytes >= n && std::memcmp(key, k, n) == 0;
  }
};

}  // namespace

MailKind ConvertMail(InStream& in, OutStream& out, Problems& problems) {
  State& s = g_state;
  FileSink sink(&out);
  s.decoder.Reset(kShiftJisPage);
  HeaderCheck header;
  unsigned long line = 1;
  std::size_t n = 0;
  unsigned long long reported = 0;
  bool lineHasBytes = false;

  auto flush = [&]() {
    s.decoder.Feed(s.piece, n, sink);
    n = 0;
    const unsigned long long invalid = s.decoder.invalid();
    problems.AddInvalid(line, invalid - reported, kShiftJisPage);
    reported = invalid;
  };
  auto put = [&](int c) {
    if (n == kExportPiece) flush();
    s.piece[n++] = static_cast<BYTE>(c);
  };

  // CRs just before an LF are part of the line end (so no CR LF is left);
  // any other CR stays.
  unsigned long long pendingCr = 0;
  for (int c; (c = in.Get()) != -1;) {
    header.Byte(line, c);
    lineHasBytes = true;
    if (c == '\r') {
      ++pendingCr;
      continue;
    }
    if (c != '\n') {
      for (; pendingCr > 0; --pendingCr) put('\r');
    }
    pendingCr = 0;
    put(c);
    if (c == '\n') {
      flush();
      ++header.lines;
      ++line;
      lineHasBytes = false;
    }
  }
  for (; pendingCr > 0; --pendingCr) put('\r');
  if (lineHasBytes) ++header.lines;
  flush();
  s.decoder.Finish(sink);
  problems.AddInvalid(line, s.decoder.invalid() - reported, kShiftJisPage);
  if (header.firstControl == -2) header.firstControl = -1;

  MailKind kind = MailKind::kNotMail;
  if (header.lines == 0) {
    problems.Add(0, "an empty file, not a mail");
  } else if (header.Starts(kLightKey)) {
    kind = MailKind::kLightMail;
  } else if (header.Starts(kMailKey)) {
    kind = MailKind::kMail;
  } else {
    problems.Add(1, "not a mail: the first line starts with neither %s nor %s", kLightKey,
                 kMailKey);
  }
  if (kind != MailKind::kNotMail) {
    const int end = header.firstControl;
    if (header.commas < 3 || !(end == '\r' || end == '\n' || end == 0 || end == -1))
      problems.Add(1, "the header line does not hold four values separated by commas");
  }
  if (kind == MailKind::kLightMail) {
    const int second = header.line2First;
    if (header.lines >= 2 && !(second == '\r' || second == '\n' || second == 0))
      problems.Add(2, "the second line of a light mail is not empty");
    if (header.lines < 4) problems.Add(0, "a light mail that ends before its fourth line");
  }
  if (in.failed()) problems.Add(0, "the file could not be read to its end");
  out.Flush();
  return kind;
}

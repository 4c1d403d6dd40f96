// The four header values have no written meaning; each is taken by its
// shape (the man page says the same):
//   "YYYY/MM/DD HH:MM[:SS]"         the date, Japanese time (+0900);
//   an e-mail address, a phone number  the other party;
//   "件名:TEXT"                      the subject;
//   "送信", "送信済", "送信済み", "sent"  the mail was sent (the party is To:).
// A value of no known shape is only kept, in X-Palvo-Values.
#include "export/message.h"

#include <cstdio>
#include <cstring>

#include "export/mime.h"

namespace {

constexpr char kLightKey[] = "X-PORIKA-LIGHT:";
constexpr char kMailKey[] = "X-PORIKA-MAIL:";
constexpr std::size_t kHeaderBytes = 4096;  // the upload's window
constexpr std::size_t kLineBytes = 1024;
constexpr std::size_t kFirstLineBytes = 256;
constexpr std::size_t kSubjectChars = 40;

// Text converted to a std::string.
class StringSink final : public TextSink {
 public:
  explicit StringSink(std::string* s) : s_(s) {}
  void Utf8(const char* text, std::size_t n) override { s_->append(text, n); }

 private:
  std::string* s_;
};

unsigned long long CountPictograms(const std::string& s) {
  unsigned long long n = 0;
  for (std::size_t i = 0; i + 2 < s.size(); ++i)
    if (IsPictogram(reinterpret_cast<const unsigned char*>(s.data() + i))) ++n;
  return n;
}

struct Scan {
  BYTE header[kHeaderBytes];
  std::size_t headerBytes;
  BYTE lines[2][kLineBytes];  // a light mail's third and fourth lines
  std::size_t lineBytes[2];
  int line2First;  // -1: no second line
  unsigned long lines_;
  unsigned long long bodyStart;  // offset of the body
  BYTE first[kFirstLineBytes];   // the body's first line with text
  std::size_t firstBytes;
  unsigned long long hash[2];
  unsigned long bodyLine;  // the line number the body starts on
};

struct State {
  Scan scan;
  Decoder decoder;
  BodySink body;
  BYTE piece[kExportPiece];
  std::string values[6], headers;
};
State g_state;

bool StartsWith(const BYTE* b, std::size_t n, const char* key) {
  const std::size_t k = std::strlen(key);
  return n >= k && std::memcmp(b, key, k) == 0;
}

// One pass over the file: its hash, its header lines and where the body
// starts, the first body line with text.
void ScanFile(InStream& in, Scan& s) {
  s.headerBytes = s.firstBytes = 0;
  s.lineBytes[0] = s.lineBytes[1] = 0;
  s.line2First = -1;
  s.lines_ = 0;
  s.hash[0] = 1469598103934665603ull;
  s.hash[1] = 1099511628211ull * 7919;
  unsigned long long offset = 0;
  unsigned long line = 1;
  bool light = false, firstDone = false, lineHasText = false;
  std::size_t pending = 0;  // of the current body line, when looking for the first
  s.bodyStart = 0;
  s.bodyLine = 0;
  int lastByte = -1;
  for (int c; (c = in.Get()) != -1;) {
    ++offset;
    lastByte = c;
    s.hash[0] = (s.hash[0] ^ static_cast<unsigned>(c)) * 1099511628211ull;
    s.hash[1] = (s.hash[1] ^ static_cast<unsigned>(c + 131)) * 1099511628211ull + 0x9E37;
    if (line == 1 && c != '\n' && s.headerBytes < kHeaderBytes) s.header[s.headerBytes++] = c;
    if (line == 2 && s.line2First == -1) s.line2First = c;
    if ((line == 3 || line == 4) && c != '\n' && c != '\r' && s.lineBytes[line - 3] < kLineBytes)
      s.lines[line - 3][s.lineBytes[line - 3]++] = c;
    const unsigned long headerLines = light ? 4 : 1;
    if (line > headerLines && !firstDone) {
      if (c == '\n') {
        if (lineHasText) firstDone = true;
        if (!firstDone) pending = 0;
      } else if (c != '\r') {
        if (c != ' ' && c != '\t') lineHasText = true;
        if (pending < kFirstLineBytes) s.first[pending++] = c;
      }
      s.firstBytes = pending;
    }
    if (c == '\n') {
      if (line == 1) light = StartsWith(s.header, s.headerBytes, kLightKey);
      ++line;
      if (line == (light ? 5ul : 2ul)) {
        s.bodyStart = offset;
        s.bodyLine = line;
      }
    }
  }
  if (!lineHasText) s.firstBytes = 0;
  s.lines_ = line - 1 + (lastByte != -1 && lastByte != '\n' ? 1 : 0);
  if (s.bodyLine == 0) {  // the header lines run to the end
    s.bodyStart = offset;
    s.bodyLine = line;
  }
}

// Bytes of the code page to UTF-8 text; returns the bytes that were no text.
unsigned long long Decode(Decoder& d, const BYTE* b, std::size_t n, std::string* out) {
  out->clear();
  StringSink sink(out);
  d.Reset(kShiftJisPage);
  d.Feed(b, n, sink);
  d.Finish(sink);
  return d.invalid();
}

// The four values of the header line as the upload reads them; false when
// the line does not hold them.
bool SplitValues(const Scan& s, std::size_t keyBytes, std::size_t start[4], std::size_t end[4]) {
  std::size_t i = keyBytes;
  while (i < s.headerBytes && s.header[i] == ' ') ++i;
  for (int v = 0; v < 4; ++v) {
    start[v] = i;
    while (i < s.headerBytes && s.header[i] >= 0x20 && (v == 3 || s.header[i] != ',')) ++i;
    end[v] = i;
    if (v < 3) {
      if (i >= s.headerBytes || s.header[i] != ',') return false;
      ++i;
    }
  }
  return i >= s.headerBytes || s.header[i] == '\r' || s.header[i] == '\n' || s.header[i] == 0;
}

int Digits(const std::string& s, std::size_t at, std::size_t n) {
  int v = 0;
  for (std::size_t i = at; i < at + n; ++i) {
    if (i >= s.size() || s[i] < '0' || s[i] > '9') return -1;
    v = v * 10 + (s[i] - '0');
  }
  return v;
}

struct DateTime {
  int year, month, day, hour, minute, second;
};

// "YYYY/MM/DD HH:MM[:SS]" with every field in its range.
bool ParseDate(const std::string& v, DateTime* t) {
  if (v.size() != 16 && v.size() != 19) return false;
  if (v[4] != '/' || v[7] != '/' || v[10] != ' ' || v[13] != ':') return false;
  if (v.size() == 19 && v[16] != ':') return false;
  *t = {Digits(v, 0, 4),  Digits(v, 5, 2),  Digits(v, 8, 2),
        Digits(v, 11, 2), Digits(v, 14, 2), v.size() == 19 ? Digits(v, 17, 2) : 0};
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (t->year < 1900 || t->month < 1 || t->month > 12 || t->day < 1) return false;
  const bool leap = (t->year % 4 == 0 && t->year % 100 != 0) || t->year % 400 == 0;
  if (t->day > kDays[t->month - 1] || (t->month == 2 && t->day == 29 && !leap)) return false;
  return t->hour >= 0 && t->hour < 24 && t->minute >= 0 && t->minute < 60 && t->second >= 0 &&
         t->second < 60;
}

int Weekday(int y, int m, int d) {  // 0 Sunday
  static const int kT[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + kT[m - 1] + d) % 7;
}

const char* const kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The same moment nine hours earlier: UTC, for the mbox "From " line.
DateTime ToUtc(DateTime t) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  t.hour -= 9;
  if (t.hour >= 0) return t;
  t.hour += 24;
  if (--t.day > 0) return t;
  if (--t.month == 0) {
    t.month = 12;
    --t.year;
  }
  const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
  t.day = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
  return t;
}

bool IsAddress(const std::string& v) {
  const std::size_t at = v.find('@');
  if (at == 0 || at == std::string::npos || at + 1 >= v.size() || v.find('@', at + 1) != v.npos)
    return false;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const char c = v[i];
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (i < at && !alnum && !std::strchr(".!#$%&'*+/=?^_`{|}~-", c)) return false;
    if (i > at && !alnum && c != '.' && c != '-') return false;
  }
  return v[at + 1] != '.' && v.back() != '.' && v[0] != '.' && v[at - 1] != '.';
}

// Digits with the marks phone numbers are written with: seven digits at
// least, or three with a '-' or a '+', so that a flag such as "1" or a count
// is no number.
bool IsPhone(const std::string& v) {
  int digits = 0;
  bool mark = false;
  for (char c : v) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '-' || c == '+') {
      mark = true;
    } else if (!std::strchr("() ", c)) {
      return false;
    }
  }
  return digits >= 7 || (digits >= 3 && mark);
}

bool IsSentMark(const std::string& v) {
  return v == "送信" || v == "送信済" || v == "送信済み" || v == "sent" || v == "Sent" ||
         v == "SENT";
}

// The subject behind "件名:" (or "件名："), if the value has that shape.
bool SubjectOf(const std::string& v, std::string* subject) {
  for (const char* key : {"件名:", "件名："}) {
    const std::size_t k = std::strlen(key);
    if (v.compare(0, k, key) == 0) {
      *subject = v.substr(k);
      return true;
    }
  }
  return false;
}

// At most n characters of UTF-8 text, cut between characters.
std::string Cut(const std::string& s, std::size_t n) {
  std::size_t i = 0, chars = 0;
  while (i < s.size() && chars < n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    ++chars;
  }
  return i < s.size() ? s.substr(0, i) + "…" : s;
}

void Header(std::string& h, const char* name, const std::string& value) {
  std::string encoded;
  OutStream out;
  out.OpenMemory(&encoded);
  WriteHeaderText(out, value.data(), value.size());
  out.Flush();
  h += name;
  h += ": ";
  h += encoded;
  h += "\r\n";
}

// The party as a mailbox: an address as it is, a phone number (or nothing)
// as the display name of an address that cannot be reached.
void PartyHeader(std::string& h, const char* name, const std::string& party) {
  if (IsAddress(party)) {
    h += name;
    h += ": " + party + "\r\n";
    return;
  }
  std::string digits;
  for (char c : party)
    if (c >= '0' && c <= '9') digits += c;
  const std::string shown = party.empty() ? "unknown" : party;
  const std::string address = (digits.empty() ? "unknown" : digits) + "@phone.invalid";
  h += name;
  h += ": \"" + shown + "\" <" + address + ">\r\n";
}

std::string HashText(const unsigned long long hash[2]) {
  char text[40];
  std::snprintf(text, sizeof text, "%016llx%016llx", hash[0], hash[1]);
  return text;
}

// The header block, CR LF line ends; fills summary.
void BuildHeaders(State& st, MailKind kind, const std::string* values, bool haveLines,
                  MailSummary& summary, std::string* mboxDate) {
  std::string& h = st.headers;
  h.clear();
  DateTime t{};
  bool haveDate = false;
  std::string party, subject;
  bool haveSubject = false;
  summary.sent = false;
  for (int v = 0; v < 4; ++v) {
    const std::string& value = values[v];
    if (!haveDate && ParseDate(value, &t)) {
      haveDate = true;
    } else if (party.empty() && (IsAddress(value) || IsPhone(value))) {
      party = value;
    } else if (!haveSubject && SubjectOf(value, &subject)) {
      haveSubject = !subject.empty();
    } else if (IsSentMark(value)) {
      summary.sent = true;
    }
  }
  if (!haveSubject) {
    std::string first;
    Decode(st.decoder, st.scan.first, st.scan.firstBytes, &first);
    std::size_t a = 0;
    while (a < first.size() && (first[a] == ' ' || first[a] == '\t')) ++a;
    subject = Cut(first.substr(a), kSubjectChars);
  }
  char line[96];
  if (haveDate) {
    std::snprintf(line, sizeof line, "Date: %s, %02d %s %04d %02d:%02d:%02d +0900\r\n",
                  kDayNames[Weekday(t.year, t.month, t.day)], t.day, kMonthNames[t.month - 1],
                  t.year, t.hour, t.minute, t.second);
    h += line;
    std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute);
    summary.date = line;
    std::snprintf(line, sizeof line, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    summary.sortKey = line;
    const DateTime u = ToUtc(t);
    std::snprintf(line, sizeof line, "%s %s %2d %02d:%02d:%02d %04d",
                  kDayNames[Weekday(u.year, u.month, u.day)], kMonthNames[u.month - 1], u.day,
                  u.hour, u.minute, u.second, u.year);
    *mboxDate = line;
  } else {
    summary.date.clear();
    summary.sortKey.clear();
    *mboxDate = "Thu Jan  1 00:00:00 1970";
  }
  if (summary.sent) {
    h += "From: \"palvo\" <handset@phone.invalid>\r\n";
    PartyHeader(h, "To", party);
  } else {
    PartyHeader(h, "From", party);
  }
  Header(h, "Subject", subject);
  h += "Message-ID: <" + HashText(st.scan.hash) + "@palvo.invalid>\r\n";
  h += "MIME-Version: 1.0\r\n";
  h += "Content-Type: text/plain; charset=UTF-8\r\n";
  h += "Content-Transfer-Encoding: quoted-printable\r\n";
  Header(h, "X-Palvo-Kind", kind == MailKind::kLightMail ? "light mail" : "mail");
  Header(h, "X-Palvo-Values", values[0] + "," + values[1] + "," + values[2] + "," + values[3]);
  if (haveLines) {
    Header(h, "X-Palvo-Lines", values[4]);
    Header(h, "X-Palvo-Lines", values[5]);
  }
  summary.party = party;
  summary.subject = subject;
}

// The header checks the upload makes, reported; the kind the first line
// names.
MailKind CheckHeader(const Scan& s, bool valuesOk, Problems& problems) {
  if (s.lines_ == 0) {
    problems.Add(0, "an empty file, not a mail", "空のファイルで、メールではありません");
    return MailKind::kNotMail;
  }
  MailKind kind = MailKind::kNotMail;
  if (StartsWith(s.header, s.headerBytes, kLightKey)) {
    kind = MailKind::kLightMail;
  } else if (StartsWith(s.header, s.headerBytes, kMailKey)) {
    kind = MailKind::kMail;
  } else {
    problems.Add(1, "not a mail: the first line starts with neither %s nor %s",
                 "メールではありません: 1 行目が %s でも %s でも始まりません", kLightKey, kMailKey);
    return kind;
  }
  if (!valuesOk)
    problems.Add(1, "the header line does not hold four values separated by commas",
                 "ヘッダー行にコンマで区切った値が 4 つありません");
  if (kind == MailKind::kLightMail) {
    const int second = s.line2First;
    if (s.lines_ >= 2 && !(second == '\r' || second == '\n' || second == 0))
      problems.Add(2, "the second line of a light mail is not empty",
                   "ライトメールの 2 行目が空ではありません");
    if (s.lines_ < 4)
      problems.Add(0, "a light mail that ends before its fourth line",
                   "4 行目より前で終わるライトメールです");
  }
  return kind;
}

// The body from its first byte: converted line by line, invalid bytes
// reported on their lines.
void WriteBody(State& st, InStream& in, MailOutputs& out, Problems& problems) {
  Scan& s = st.scan;
  for (unsigned long long skip = s.bodyStart; skip > 0 && in.Get() != -1; --skip) {
  }
  st.body.Start(&out);
  st.decoder.Reset(kShiftJisPage);
  unsigned long line = s.bodyLine;
  unsigned long long reported = 0;
  std::size_t n = 0;
  bool cr = false, any = false, lineOpen = false;
  auto flush = [&]() {
    st.decoder.Feed(st.piece, n, st.body);
    n = 0;
    problems.AddInvalid(line, st.decoder.invalid() - reported, kShiftJisPage);
    reported = st.decoder.invalid();
  };
  auto put = [&](int c) {
    if (n == kExportPiece) flush();
    st.piece[n++] = static_cast<BYTE>(c);
  };
  // CR LF and LF end a line; a lone CR stays in it.
  for (int c; (c = in.Get()) != -1;) {
    any = true;
    if (cr && c != '\n') put('\r');
    cr = c == '\r';
    if (cr) continue;
    put(c);
    lineOpen = c != '\n';
    if (c == '\n') {
      flush();
      ++line;
    }
  }
  if (cr) put('\r');
  flush();
  st.decoder.Finish(st.body);
  problems.AddInvalid(line, st.decoder.invalid() - reported, kShiftJisPage);
  if (lineOpen || (any && !st.body.empty())) st.body.EndLine();
}

}  // namespace

MailKind ConvertMessage(InStream& in, MailOutputs& out, MailSummary& summary,
                        unsigned long long* pictograms, Problems& problems) {
  State& st = g_state;
  Scan& s = st.scan;
  ScanFile(in, s);
  if (in.failed()) {
    problems.Add(0, "the file could not be read to its end", "ファイルを最後まで読めませんでした");
    return MailKind::kNotMail;
  }
  const bool light = StartsWith(s.header, s.headerBytes, kLightKey);
  std::size_t start[4] = {}, end[4] = {};
  const bool valuesOk = SplitValues(s, std::strlen(light ? kLightKey : kMailKey), start, end);
  const MailKind kind = CheckHeader(s, valuesOk, problems);
  if (kind == MailKind::kNotMail) return kind;

  unsigned long long invalid = 0, marks = 0;
  for (int v = 0; v < 4; ++v) {
    invalid += Decode(st.decoder, s.header + start[v], end[v] - start[v], &st.values[v]);
    marks += CountPictograms(st.values[v]);
  }
  problems.AddInvalid(1, invalid, kShiftJisPage);
  const bool lines = kind == MailKind::kLightMail;
  for (int v = 4; v < 6; ++v) {
    st.values[v].clear();
    if (!lines) continue;
    problems.AddInvalid(static_cast<unsigned long>(v - 1),
                        Decode(st.decoder, s.lines[v - 4], s.lineBytes[v - 4], &st.values[v]),
                        kShiftJisPage);
    marks += CountPictograms(st.values[v]);
  }
  std::string mboxDate;
  BuildHeaders(st, kind, st.values, lines, summary, &mboxDate);

  out.mbox->Text("From MAILER-DAEMON ");
  out.mbox->Text(mboxDate.c_str());
  out.mbox->Put('\n');
  out.eml->Write(st.headers.data(), st.headers.size());
  out.eml->Text("\r\n");
  for (char c : st.headers)
    if (c != '\r') out.mbox->Put(c);
  out.mbox->Put('\n');
  if (!in.Rewind()) {
    problems.Add(0, "the file could not be read a second time",
                 "ファイルを 2 度目に読めませんでした");
    return MailKind::kNotMail;
  }
  WriteBody(st, in, out, problems);
  out.mbox->Put('\n');
  if (in.failed())
    problems.Add(0, "the file could not be read to its end", "ファイルを最後まで読めませんでした");
  *pictograms += marks + st.body.pictograms();
  return kind;
}

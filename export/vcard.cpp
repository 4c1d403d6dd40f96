// vCard 2.1 as the handset keeps it to vCard 3.0 (RFC 2426 conventions).
//
// Read: content lines end in CR LF, LF or CR; a line end followed by a blank
// or TAB folds the line (the blank stays, as 2.1 has it); a quoted-printable
// value continues after "=" at the end of a line; a BASE64 value runs on over
// indented lines (or lines without ':') to an empty line. Values are in
// Shift-JIS unless CHARSET names another charset.
//
// Written: BEGIN, VERSION:3.0, every other property in its order with its
// value decoded, converted to UTF-8 and escaped as 3.0 text, CHARSET and
// ENCODING dropped (BASE64 becomes ENCODING=b), bare 2.1 parameters as TYPE=,
// N and FN added where missing (FN from N), END. Lines are folded at 75
// octets, between characters and never inside an escape.
#include <cstring>

#include "export/convert.h"

namespace {

constexpr int kEnd = -1;
constexpr std::size_t kHeadBytes = 1024;
constexpr std::size_t kNameBytes = 1024;  // N kept for an FN made from it
constexpr std::size_t kFoldAt = 75;
constexpr std::size_t kRawPiece = 512;

// How a value is written.
enum class Kind {
  kCompound,  // N, ADR, ORG: text whose ';' separates components
  kText,      // FN, NOTE, ...: one text; ';' and ',' escaped
  kRaw,       // TEL, URL, BDAY, ...: no text escapes
  kBinary,    // BASE64: the base64 characters only
  kUnknown,   // others: escaped as text, ';' kept as the 2.1 separator it may be
};

enum class Encoding { kNone, kQuotedPrintable, kBase64 };

bool EqualsNoCase(const char* a, std::size_t n, const char* b) {
  if (std::strlen(b) != n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != b[i]) return false;
  }
  return true;
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

bool IsBase64Char(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

int HexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::size_t SequenceLength(unsigned char lead) {
  return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Content lines out, folded: a unit (a character or an escape pair) that
// would pass octet 75 starts a continuation line (CR LF and one blank).
class Folder {
 public:
  void Start(OutStream* out) {
    out_ = out;
    column_ = 0;
  }
  void Unit(const char* bytes, std::size_t n) {
    if (column_ + n > kFoldAt) {
      out_->Write("\r\n ", 3);
      column_ = 1;
    }
    out_->Write(bytes, n);
    column_ += n;
  }
  // Whole UTF-8 characters, escape pairs kept together.
  void Escaped(const char* text, std::size_t n) { Characters(text, n, true); }
  // Whole UTF-8 characters of text that has no escapes (parameter values).
  void Plain(const char* text, std::size_t n) { Characters(text, n, false); }
  void Characters(const char* text, std::size_t n, bool escapes) {
    for (std::size_t i = 0; i < n;) {
      std::size_t len =
          escapes && text[i] == '\\' ? 2 : SequenceLength(static_cast<unsigned char>(text[i]));
      if (len > n - i) len = n - i;
      Unit(text + i, len);
      i += len;
    }
  }
  void Ascii(const char* text) { Escaped(text, std::strlen(text)); }
  void EndLine() {
    out_->Write("\r\n", 2);
    column_ = 0;
  }

 private:
  OutStream* out_ = nullptr;
  std::size_t column_ = 0;
};

// A value's UTF-8 text to the folder, escaped for its kind; N's written form
// is also kept, for the FN made from it.
class ValueSink final : public TextSink {
 public:
  void Start(Kind kind, Folder* folder, char* capture, std::size_t* captured) {
    kind_ = kind;
    folder_ = folder;
    capture_ = capture;
    captured_ = captured;
    backslash_ = lastCr_ = false;
    dropped_ = 0;
  }
  void Utf8(const char* text, std::size_t n) override {
    for (std::size_t i = 0; i < n;) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (kind_ == Kind::kBinary) {
        if (IsBase64Char(c)) {
          Out(text + i, 1);
        } else if (c != ' ' && c != '\t') {
          ++dropped_;
        }
        ++i;
        continue;
      }
      std::size_t len = SequenceLength(c);
      if (len > n - i) len = n - i;
      if (len == 1) {
        Ascii(static_cast<char>(c));
      } else {
        Flush();
        lastCr_ = false;
        Out(text + i, len);
      }
      i += len;
    }
  }
  void End() { Flush(); }
  unsigned dropped() const { return dropped_; }

 private:
  bool Escapes() const { return kind_ != Kind::kRaw; }
  // A backslash waiting for what follows it.
  void Flush() {
    if (backslash_) Out("\\\\", 2);
    backslash_ = false;
  }
  void Ascii(char c) {
    if (backslash_) {
      backslash_ = false;
      if (c == ';') {
        Out("\\;", 2);  // 2.1's escaped semicolon: the same in 3.0
        return;
      }
      Out("\\\\", 2);
    }
    if (c == '\r' || c == '\n') {
      if (!(c == '\n' && lastCr_)) Out("\\n", 2);
      lastCr_ = c == '\r';
      return;
    }
    lastCr_ = false;
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
      ++dropped_;  // no control character may stand in a 3.0 value
      return;
    }
    if (Escapes()) {
      if (c == '\\') {
        backslash_ = true;
        return;
      }
      if (c == ',') {
        Out("\\,", 2);
        return;
      }
      if (c == ';' && kind_ == Kind::kText) {
        Out("\\;", 2);
        return;
      }
    }
    Out(&c, 1);
  }
  void Out(const char* bytes, std::size_t n) {
    folder_->Unit(bytes, n);
    if (capture_ && *captured_ + n <= kNameBytes) {
      std::memcpy(capture_ + *captured_, bytes, n);
      *captured_ += n;
    }
  }

  Kind kind_ = Kind::kUnknown;
  Folder* folder_ = nullptr;
  char* capture_ = nullptr;
  std::size_t* captured_ = nullptr;
  bool backslash_ = false, lastCr_ = false;
  unsigned dropped_ = 0;
};

// Parameter values and other text that is not escaped.
class PlainSink final : public TextSink {
 public:
  explicit PlainSink(Folder* folder) : folder_(folder) {}
  void Utf8(const char* text, std::size_t n) override { folder_->Plain(text, n); }

 private:
  Folder* folder_;
};

// The input's content lines, byte by byte.
struct Reader {
  InStream* in;
  unsigned long line = 1;

  // Consumes a line end (CR LF, LF or CR) if one stands next.
  bool LineEnd() {
    const int c = in->Peek();
    if (c == '\r') {
      in->Get();
      if (in->Peek() == '\n') in->Get();
    } else if (c == '\n') {
      in->Get();
    } else {
      return false;
    }
    ++line;
    return true;
  }
  // The next byte of the content line; kEnd at its end (the line end is
  // consumed). A folded line goes on after its line end, with its blank.
  int Next() {
    const int c = in->Peek();
    if (c == -1) return kEnd;
    if (c == '\r' || c == '\n') {
      LineEnd();
      const int d = in->Peek();
      return d == ' ' || d == '\t' ? in->Get() : kEnd;
    }
    return in->Get();
  }
  void SkipLine() {
    while (Next() != kEnd) {
    }
  }
};

struct Param {
  char* key;  // null for a bare 2.1 parameter
  std::size_t keyLength;
  char* value;
  std::size_t valueLength;
  bool quoted;
};
constexpr int kMaxParams = 32;

struct State {
  Reader reader;
  Folder folder;
  ValueSink value;
  Decoder decoder;
  Problems* problems;
  char head[kHeadBytes];
  Param params[kMaxParams];
  BYTE raw[kRawPiece];
  char name[kNameBytes];  // N as written
  std::size_t nameLength;
  unsigned card;
  bool haveN, haveFn;
  bool lineOpen;    // the last property's line waits for its end
  bool openBinary;  // ... and it is a BASE64 value that may go on
};

State g_state;

enum class HeadEnd { kColon, kNoColon, kTooLong };

// Name and parameters up to the ':' that is not inside quotes.
HeadEnd ReadHead(State& s, std::size_t* length) {
  bool quoted = false;
  std::size_t n = 0;
  for (;;) {
    const int c = s.reader.Next();
    if (c == kEnd) {
      *length = n;
      return HeadEnd::kNoColon;
    }
    if (c == '"') quoted = !quoted;
    if (c == ':' && !quoted) break;
    if (n == kHeadBytes) {
      s.reader.SkipLine();
      *length = n;
      return HeadEnd::kTooLong;
    }
    s.head[n++] = static_cast<char>(c);
  }
  *length = n;
  return HeadEnd::kColon;
}

void Trim(char*& text, std::size_t& n) {
  while (n > 0 && (*text == ' ' || *text == '\t')) ++text, --n;
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
}

// A short value (BEGIN, END, VERSION), trimmed; the rest of a long one is
// skipped.
std::size_t ReadShortValue(State& s, char* out, std::size_t cap) {
  std::size_t n = 0;
  for (int c; (c = s.reader.Next()) != kEnd;) {
    if (n < cap) out[n++] = static_cast<char>(c);
  }
  char* start = out;
  Trim(start, n);
  std::memmove(out, start, n);
  return n;
}

// Everything of a value up to its end, quoted-printable soft breaks included.
void SkipValue(State& s, Encoding encoding) {
  for (int c; (c = s.reader.Next()) != kEnd;) {
    if (c == '=' && encoding == Encoding::kQuotedPrintable) s.reader.LineEnd();
  }
}

Kind KindOf(const char* name, std::size_t n, Encoding encoding, bool uri) {
  if (encoding == Encoding::kBase64) return Kind::kBinary;
  static const char* const kCompound[] = {"N", "ADR", "ORG"};
  static const char* const kText[] = {"FN",       "NOTE",       "TITLE",      "ROLE", "LABEL",
                                      "EMAIL",    "MAILER",     "CLASS",      "UID",  "PRODID",
                                      "NICKNAME", "CATEGORIES", "SORT-STRING"};
  static const char* const kRaw[] = {"TEL", "URL", "BDAY", "REV", "GEO", "TZ"};
  for (const char* k : kCompound)
    if (EqualsNoCase(name, n, k)) return Kind::kCompound;
  for (const char* k : kText)
    if (EqualsNoCase(name, n, k)) return Kind::kText;
  for (const char* k : kRaw)
    if (EqualsNoCase(name, n, k)) return Kind::kRaw;
  if (uri) return Kind::kRaw;
  return Kind::kUnknown;
}

void EndOpenLine(State& s) {
  if (s.lineOpen) s.folder.EndLine();
  s.lineOpen = s.openBinary = false;
}

void StartCard(State& s) {
  ++s.card;
  s.haveN = s.haveFn = false;
  s.nameLength = 0;
  s.folder.Ascii("BEGIN:VCARD");
  s.folder.EndLine();
  s.folder.Ascii("VERSION:3.0");
  s.folder.EndLine();
}

// FN from N's components: prefix, family, given, additional and suffix names,
// those that are not empty, one blank apart (family first, as Japanese names
// are written).
void WriteFnFromN(State& s) {
  const char* part[5] = {};
  std::size_t length[5] = {};
  int k = 0;
  part[0] = s.name;
  for (std::size_t i = 0; i < s.nameLength && k < 5;) {
    if (s.name[i] == '\\' && i + 1 < s.nameLength) {
      length[k] += 2;
      i += 2;
    } else if (s.name[i] == ';') {
      if (++k < 5) part[k] = s.name + i + 1;
      ++i;
    } else {
      ++length[k];
      ++i;
    }
  }
  s.folder.Ascii("FN:");
  bool first = true;
  for (int order : {3, 0, 1, 2, 4}) {
    if (!part[order] || length[order] == 0) continue;
    if (!first) s.folder.Unit(" ", 1);
    first = false;
    s.folder.Escaped(part[order], length[order]);
  }
  s.folder.EndLine();
}

unsigned g_written;

void EndCard(State& s) {
  EndOpenLine(s);
  if (!s.haveN) {
    s.folder.Ascii("N:;;;;");
    s.folder.EndLine();
  }
  if (!s.haveFn) WriteFnFromN(s);
  s.folder.Ascii("END:VCARD");
  s.folder.EndLine();
  ++g_written;
}

// Splits the head at the ';' outside quotes: the name, then the parameters.
int SplitHead(State& s, std::size_t length, std::size_t* nameLength) {
  char* h = s.head;
  std::size_t i = 0;
  while (i < length && h[i] != ';') ++i;
  *nameLength = i;
  int count = 0;
  while (i < length) {
    const std::size_t start = ++i;  // past the ';'
    bool quoted = false;
    while (i < length && (quoted || h[i] != ';')) {
      if (h[i] == '"') quoted = !quoted;
      ++i;
    }
    char* token = h + start;
    std::size_t n = i - start;
    Trim(token, n);
    if (n == 0 || count == kMaxParams) continue;
    Param& p = s.params[count++];
    char* eq = static_cast<char*>(std::memchr(token, '=', n));
    if (eq) {
      p.key = token;
      p.keyLength = static_cast<std::size_t>(eq - token);
      p.value = eq + 1;
      p.valueLength = n - p.keyLength - 1;
      Trim(p.key, p.keyLength);
      Trim(p.value, p.valueLength);
    } else {
      p.key = nullptr;
      p.keyLength = 0;
      p.value = token;
      p.valueLength = n;
    }
    p.quoted = p.valueLength >= 2 && p.value[0] == '"' && p.value[p.valueLength - 1] == '"';
    if (p.quoted) ++p.value, p.valueLength -= 2;
  }
  return count;
}

// "group.NAME" or "NAME", of letters, digits and '-'.
bool ValidName(const char* name, std::size_t n, const char** bare, std::size_t* bareLength) {
  const char* dot = static_cast<const char*>(std::memchr(name, '.', n));
  const char* start = dot ? dot + 1 : name;
  const std::size_t length = n - static_cast<std::size_t>(start - name);
  if (length == 0 || (dot && dot == name)) return false;
  for (std::size_t i = 0; i < n; ++i) {
    if (!IsNameChar(name[i]) && !(name + i == dot)) return false;
  }
  *bare = start;
  *bareLength = length;
  return true;
}

void WriteParamValue(State& s, const Param& p) {
  // Quotes only where the value needs them; a quote inside cannot be kept.
  bool needsQuotes = p.quoted;
  for (std::size_t i = 0; i < p.valueLength; ++i)
    if (p.value[i] == ':' || p.value[i] == ';') needsQuotes = true;
  if (needsQuotes) s.folder.Unit("\"", 1);
  PlainSink sink(&s.folder);
  s.decoder.Reset(kShiftJisPage);
  for (std::size_t i = 0; i < p.valueLength; ++i) {
    const unsigned char c = static_cast<unsigned char>(p.value[i]);
    if (c == '"' || c < 0x20 || c == 0x7F) continue;
    s.decoder.Feed(&c, 1, sink);
  }
  s.decoder.Finish(sink);
  if (needsQuotes) s.folder.Unit("\"", 1);
}

// One property of a card: head (already read) and value, converted.
void ConvertProperty(State& s, std::size_t headLength, unsigned long line) {
  Problems& problems = *s.problems;
  std::size_t nameLength = 0;
  const int count = SplitHead(s, headLength, &nameLength);
  const char* bare = nullptr;
  std::size_t bareLength = 0;
  const bool validName = ValidName(s.head, nameLength, &bare, &bareLength);

  Encoding encoding = Encoding::kNone;
  UINT codePage = kShiftJisPage;
  bool uri = false;
  for (int i = 0; i < count; ++i) {
    const Param& p = s.params[i];
    const bool isEncoding = p.key ? EqualsNoCase(p.key, p.keyLength, "ENCODING") : true;
    if (isEncoding) {
      if (EqualsNoCase(p.value, p.valueLength, "QUOTED-PRINTABLE")) {
        encoding = Encoding::kQuotedPrintable;
      } else if (EqualsNoCase(p.value, p.valueLength, "BASE64") ||
                 EqualsNoCase(p.value, p.valueLength, "B")) {
        encoding = Encoding::kBase64;
      } else if (p.key && !EqualsNoCase(p.value, p.valueLength, "8BIT") &&
                 !EqualsNoCase(p.value, p.valueLength, "7BIT")) {
        problems.Add(line, "card %u: unknown ENCODING %.*s, the value taken as it is", s.card,
                     static_cast<int>(p.valueLength), p.value);
      }
    } else if (EqualsNoCase(p.key, p.keyLength, "CHARSET")) {
      codePage = CodePageOfCharset(p.value, p.valueLength);
      if (codePage == 0) {
        problems.Add(line, "card %u: unknown CHARSET %.*s, read as Shift-JIS", s.card,
                     static_cast<int>(p.valueLength), p.value);
        codePage = kShiftJisPage;
      }
    } else if (EqualsNoCase(p.key, p.keyLength, "VALUE") &&
               EqualsNoCase(p.value, p.valueLength, "URL")) {
      uri = true;
    }
  }
  if (!validName) {
    problems.Add(line, "card %u: a line that is no property left out", s.card);
    SkipValue(s, encoding);
    return;
  }

  if (EqualsNoCase(bare, bareLength, "BEGIN") || EqualsNoCase(bare, bareLength, "END") ||
      EqualsNoCase(bare, bareLength, "VERSION")) {
    problems.Add(line, "card %u: %.*s left out", s.card, static_cast<int>(nameLength), s.head);
    SkipValue(s, encoding);
    return;
  }
  const Kind kind = KindOf(bare, bareLength, encoding, uri);
  const bool isN = EqualsNoCase(bare, bareLength, "N");
  if (EqualsNoCase(bare, bareLength, "FN")) s.haveFn = true;

  // The head: name; TYPE= of the bare parameters and TYPE parameters; the
  // other parameters as they are, but for CHARSET and ENCODING.
  EndOpenLine(s);
  s.folder.Escaped(s.head, nameLength);
  bool typeWritten = false;
  for (int i = 0; i < count; ++i) {
    const Param& p = s.params[i];
    const char* v = p.value;
    const std::size_t vn = p.valueLength;
    const bool bareEncoding =
        !p.key && (EqualsNoCase(v, vn, "QUOTED-PRINTABLE") || EqualsNoCase(v, vn, "BASE64") ||
                   EqualsNoCase(v, vn, "8BIT") || EqualsNoCase(v, vn, "7BIT"));
    if (bareEncoding || (!p.key && EqualsNoCase(v, vn, "INLINE"))) continue;
    if (!p.key || EqualsNoCase(p.key, p.keyLength, "TYPE")) {
      if (!p.key && EqualsNoCase(v, vn, "URL")) continue;  // VALUE=uri below
      if (vn == 0) continue;
      s.folder.Ascii(typeWritten ? "," : ";TYPE=");
      typeWritten = true;
      WriteParamValue(s, p);
    }
  }
  for (int i = 0; i < count; ++i) {
    const Param& p = s.params[i];
    if (!p.key || EqualsNoCase(p.key, p.keyLength, "TYPE") ||
        EqualsNoCase(p.key, p.keyLength, "CHARSET") || EqualsNoCase(p.key, p.keyLength, "ENCODING"))
      continue;
    bool validKey = p.keyLength > 0;
    for (std::size_t k = 0; k < p.keyLength; ++k) validKey = validKey && IsNameChar(p.key[k]);
    if (!validKey) {
      problems.Add(line, "card %u: a parameter with no proper name left out", s.card);
      continue;
    }
    if (EqualsNoCase(p.key, p.keyLength, "VALUE")) {
      if (EqualsNoCase(p.value, p.valueLength, "INLINE")) continue;
      if (EqualsNoCase(p.value, p.valueLength, "URL")) continue;  // below
    }
    s.folder.Unit(";", 1);
    s.folder.Escaped(p.key, p.keyLength);
    s.folder.Unit("=", 1);
    WriteParamValue(s, p);
  }
  bool bareUrl = false;
  for (int i = 0; i < count; ++i)
    bareUrl = bareUrl ||
              (!s.params[i].key && EqualsNoCase(s.params[i].value, s.params[i].valueLength, "URL"));
  if (uri || bareUrl) s.folder.Ascii(";VALUE=uri");
  if (encoding == Encoding::kBase64) s.folder.Ascii(";ENCODING=b");
  s.folder.Unit(":", 1);

  // The value: decoded, converted, escaped.
  const bool capture = isN && !s.haveN;
  s.value.Start(kind, &s.folder, capture ? s.name : nullptr, &s.nameLength);
  s.decoder.Reset(codePage);
  std::size_t n = 0;
  unsigned badEscapes = 0;
  auto put = [&](int byte) {
    if (n == kRawPiece) {
      if (kind == Kind::kBinary) {
        s.value.Utf8(reinterpret_cast<const char*>(s.raw), n);
      } else {
        s.decoder.Feed(s.raw, n, s.value);
      }
      n = 0;
    }
    s.raw[n++] = static_cast<BYTE>(byte);
  };
  for (int c; (c = s.reader.Next()) != kEnd;) {
    if (c != '=' || encoding != Encoding::kQuotedPrintable) {
      put(c);
      continue;
    }
    // "=XX" a byte; "=" at the end of a line a soft break.
    if (s.reader.LineEnd()) continue;
    const int hi = s.reader.in->Peek();
    if (HexValue(hi) < 0) {
      ++badEscapes;
      put('=');
      continue;
    }
    s.reader.in->Get();
    const int lo = s.reader.in->Peek();
    if (HexValue(lo) < 0) {
      ++badEscapes;
      put('=');
      put(hi);
      continue;
    }
    s.reader.in->Get();
    put(HexValue(hi) * 16 + HexValue(lo));
  }
  if (kind == Kind::kBinary) {
    s.value.Utf8(reinterpret_cast<const char*>(s.raw), n);
  } else {
    s.decoder.Feed(s.raw, n, s.value);
    s.decoder.Finish(s.value);
  }
  s.value.End();
  s.lineOpen = true;
  s.openBinary = kind == Kind::kBinary;
  if (isN) s.haveN = true;

  if (kind != Kind::kBinary) problems.AddInvalid(line, s.decoder.invalid(), codePage, s.card);
  if (badEscapes)
    problems.Add(line, "card %u: %u '=' not followed by two hex digits, kept as they are", s.card,
                 badEscapes);
  if (s.value.dropped())
    problems.Add(line, "card %u: %u control characters left out of the value", s.card,
                 s.value.dropped());
}

}  // namespace

unsigned ConvertAddressBook(InStream& in, OutStream& out, Problems& problems) {
  State& s = g_state;
  s.reader = Reader{&in};
  s.folder.Start(&out);
  s.problems = &problems;
  s.card = 0;
  s.lineOpen = s.openBinary = false;
  g_written = 0;
  bool inCard = false, outsideReported = false;

  while (in.Peek() != -1) {
    if (s.reader.LineEnd()) continue;  // empty lines separate nothing
    const unsigned long line = s.reader.line;
    std::size_t headLength = 0;
    const HeadEnd end = ReadHead(s, &headLength);
    if (end == HeadEnd::kTooLong) {
      if (inCard) {
        problems.Add(line, "card %u: a line of more than %zu bytes before its ':' left out", s.card,
                     kHeadBytes);
      } else if (!outsideReported) {
        problems.Add(line, "text outside a card (BEGIN:VCARD to END:VCARD) left out");
        outsideReported = true;
      }
      continue;
    }
    if (end == HeadEnd::kNoColon) {
      bool base64 = inCard && s.openBinary;
      for (std::size_t i = 0; i < headLength && base64; ++i)
        base64 = IsBase64Char(static_cast<unsigned char>(s.head[i])) || s.head[i] == ' ' ||
                 s.head[i] == '\t';
      if (base64) {
        s.value.Utf8(s.head, headLength);  // a BASE64 value going on unindented
      } else if (inCard) {
        problems.Add(line, "card %u: a line without ':' left out", s.card);
      } else if (!outsideReported) {
        problems.Add(line, "text outside a card (BEGIN:VCARD to END:VCARD) left out");
        outsideReported = true;
      }
      continue;
    }

    std::size_t nameLength = 0;
    while (nameLength < headLength && s.head[nameLength] != ';') ++nameLength;
    char value[16];
    const bool begin = EqualsNoCase(s.head, nameLength, "BEGIN");
    const bool finish = EqualsNoCase(s.head, nameLength, "END");
    if (begin || finish || EqualsNoCase(s.head, nameLength, "VERSION")) {
      const std::size_t n = ReadShortValue(s, value, sizeof value);
      const bool vcard = EqualsNoCase(value, n, "VCARD");
      if (begin && vcard) {
        if (inCard) {
          problems.Add(line, "card %u has no END:VCARD; ended before the next card", s.card);
          EndCard(s);
        }
        inCard = true;
        outsideReported = false;
        StartCard(s);
      } else if (!inCard) {
        if (!outsideReported) {
          problems.Add(line, "text outside a card (BEGIN:VCARD to END:VCARD) left out");
          outsideReported = true;
        }
      } else if (finish && vcard) {
        EndCard(s);
        inCard = false;
      } else if (begin || finish) {
        problems.Add(line, "card %u: %s:%.*s left out", s.card, begin ? "BEGIN" : "END",
                     static_cast<int>(n), value);
      }
      // VERSION: the card's is 3.0 now.
      continue;
    }
    if (!inCard) {
      SkipValue(s, Encoding::kNone);
      if (!outsideReported) {
        problems.Add(line, "text outside a card (BEGIN:VCARD to END:VCARD) left out");
        outsideReported = true;
      }
      continue;
    }
    ConvertProperty(s, headLength, line);
  }
  if (inCard) {
    problems.Add(s.reader.line, "card %u has no END:VCARD; ended at the end of the file", s.card);
    EndCard(s);
  }
  if (in.failed()) problems.Add(0, "the file could not be read to its end");
  out.Flush();
  return g_written;
}

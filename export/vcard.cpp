// vCard 2.1 as the handset keeps it to vCard 3.0 (RFC 2426 conventions).
//
// Read (besides vcard_lines.h): a quoted-printable value continues after "="
// at the end of a line; a BASE64 value runs on over indented lines (or lines
// without ':') to an empty line. Values are in Shift-JIS unless CHARSET names
// another charset.
//
// Written: BEGIN, VERSION:3.0, every other property in its order with its
// value decoded, converted to UTF-8 and escaped as 3.0 text, CHARSET and
// ENCODING dropped (BASE64 becomes ENCODING=b), bare 2.1 parameters as TYPE=,
// N and FN added where missing (FN from N), END.
#include <cstring>

#include "export/convert.h"
#include "export/vcard_lines.h"

namespace {

using namespace vcard;

constexpr std::size_t kRawPiece = 512;

enum class Encoding { kNone, kQuotedPrintable, kBase64 };

// Parameter values and other text that is not escaped.
class PlainSink final : public TextSink {
 public:
  explicit PlainSink(Folder* folder) : folder_(folder) {}
  void Utf8(const char* text, std::size_t n) override { folder_->Plain(text, n); }

 private:
  Folder* folder_;
};

struct State {
  Reader reader;
  Folder folder;
  ValueSink value;
  Decoder decoder;
  Problems* problems;
  Head head;
  BYTE raw[kRawPiece];
  char name[kNameBytes];  // N as written
  std::size_t nameLength;
  unsigned card;
  bool haveN, haveFn;
  bool lineOpen;    // the last property's line waits for its end
  bool openBinary;  // ... and it is a BASE64 value that may go on
};

State g_state;

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

// What a property's parameters say about its value.
struct ValueForm {
  Encoding encoding = Encoding::kNone;
  UINT codePage = kShiftJisPage;
  bool uri = false;
};

ValueForm ReadValueForm(State& s, int count, unsigned long line) {
  Problems& problems = *s.problems;
  ValueForm form;
  for (int i = 0; i < count; ++i) {
    const Param& p = s.head.params[i];
    const bool isEncoding = p.key ? EqualsNoCase(p.key, p.keyLength, "ENCODING") : true;
    if (isEncoding) {
      if (EqualsNoCase(p.value, p.valueLength, "QUOTED-PRINTABLE")) {
        form.encoding = Encoding::kQuotedPrintable;
      } else if (EqualsNoCase(p.value, p.valueLength, "BASE64") ||
                 EqualsNoCase(p.value, p.valueLength, "B")) {
        form.encoding = Encoding::kBase64;
      } else if (p.key && !EqualsNoCase(p.value, p.valueLength, "8BIT") &&
                 !EqualsNoCase(p.value, p.valueLength, "7BIT")) {
        problems.Add(line, "card %u: unknown ENCODING %.*s, the value taken as it is",
                     "カード %u: 知らない ENCODING %.*s です。値はそのまま使いました", s.card,
                     static_cast<int>(p.valueLength), p.value);
      }
    } else if (EqualsNoCase(p.key, p.keyLength, "CHARSET")) {
      form.codePage = CodePageOfCharset(p.value, p.valueLength);
      if (form.codePage == 0) {
        problems.Add(line, "card %u: unknown CHARSET %.*s, read as Shift-JIS",
                     "カード %u: 知らない CHARSET %.*s です。Shift-JIS として読みました", s.card,
                     static_cast<int>(p.valueLength), p.value);
        form.codePage = kShiftJisPage;
      }
    } else if (EqualsNoCase(p.key, p.keyLength, "VALUE") &&
               EqualsNoCase(p.value, p.valueLength, "URL")) {
      form.uri = true;
    }
  }
  return form;
}

// The head written: name; TYPE= of the bare parameters and TYPE parameters;
// the other parameters as they are, but for CHARSET and ENCODING.
void WriteHead(State& s, std::size_t nameLength, int count, const ValueForm& form,
               unsigned long line) {
  s.folder.Escaped(s.head.text, nameLength);
  bool typeWritten = false;
  for (int i = 0; i < count; ++i) {
    const Param& p = s.head.params[i];
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
  bool bareUrl = false;
  for (int i = 0; i < count; ++i) {
    const Param& p = s.head.params[i];
    bareUrl = bareUrl || (!p.key && EqualsNoCase(p.value, p.valueLength, "URL"));
    if (!p.key || EqualsNoCase(p.key, p.keyLength, "TYPE") ||
        EqualsNoCase(p.key, p.keyLength, "CHARSET") || EqualsNoCase(p.key, p.keyLength, "ENCODING"))
      continue;
    bool validKey = p.keyLength > 0;
    for (std::size_t k = 0; k < p.keyLength; ++k) validKey = validKey && IsNameChar(p.key[k]);
    if (!validKey) {
      s.problems->Add(line, "card %u: a parameter with no proper name left out",
                      "カード %u: 正しい名前のないパラメーターを除きました", s.card);
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
  if (form.uri || bareUrl) s.folder.Ascii(";VALUE=uri");
  if (form.encoding == Encoding::kBase64) s.folder.Ascii(";ENCODING=b");
  s.folder.Unit(":", 1);
}

// The value: decoded ("=XX" a byte, "=" at the end of a line a soft break),
// converted and escaped. Returns the number of '=' that were no escape.
unsigned WriteValue(State& s, Kind kind, const ValueForm& form) {
  s.decoder.Reset(form.codePage);
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
    if (c != '=' || form.encoding != Encoding::kQuotedPrintable) {
      put(c);
      continue;
    }
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
  return badEscapes;
}

// One property of a card: head (already read) and value, converted.
void ConvertProperty(State& s, unsigned long line) {
  Problems& problems = *s.problems;
  std::size_t nameLength = 0;
  const int count = SplitHead(s.head, &nameLength);
  const char* bare = nullptr;
  std::size_t bareLength = 0;
  const bool validName = ValidName(s.head.text, nameLength, &bare, &bareLength);
  const ValueForm form = ReadValueForm(s, count, line);
  const bool quotedPrintable = form.encoding == Encoding::kQuotedPrintable;
  if (!validName) {
    problems.Add(line, "card %u: a line that is no property left out",
                 "カード %u: プロパティではない行を除きました", s.card);
    SkipValue(s.reader, quotedPrintable);
    return;
  }
  if (EqualsNoCase(bare, bareLength, "BEGIN") || EqualsNoCase(bare, bareLength, "END") ||
      EqualsNoCase(bare, bareLength, "VERSION")) {
    problems.Add(line, "card %u: %.*s left out", "カード %u: %.*s を除きました", s.card,
                 static_cast<int>(nameLength), s.head.text);
    SkipValue(s.reader, quotedPrintable);
    return;
  }
  const Kind kind = KindOf(bare, bareLength, form.encoding, form.uri);
  const bool isN = EqualsNoCase(bare, bareLength, "N");
  if (EqualsNoCase(bare, bareLength, "FN")) s.haveFn = true;

  EndOpenLine(s);
  WriteHead(s, nameLength, count, form, line);
  const bool capture = isN && !s.haveN;
  s.value.Start(kind, &s.folder, capture ? s.name : nullptr, &s.nameLength);
  const unsigned badEscapes = WriteValue(s, kind, form);
  s.lineOpen = true;
  s.openBinary = kind == Kind::kBinary;
  if (isN) s.haveN = true;

  if (kind != Kind::kBinary) problems.AddInvalid(line, s.decoder.invalid(), form.codePage, s.card);
  if (badEscapes)
    problems.Add(line, "card %u: %u '=' not followed by two hex digits, kept as they are",
                 "カード %u: 後ろに 16 進数 2 桁のない '=' %u 個はそのままにしました", s.card,
                 badEscapes);
  if (s.value.dropped())
    problems.Add(line, "card %u: %u control characters left out of the value",
                 "カード %u: 値から制御文字 %u 個を除きました", s.card, s.value.dropped());
}

// Where the file is between cards.
struct Position {
  bool inCard = false;
  bool outsideReported = false;  // since the last card
};

// Text between cards is reported once per gap.
void OutsideCard(State& s, Position& at, unsigned long line) {
  if (at.outsideReported) return;
  s.problems->Add(line, "text outside a card (BEGIN:VCARD to END:VCARD) left out",
                  "カード (BEGIN:VCARD から END:VCARD まで) の外の文字を除きました");
  at.outsideReported = true;
}

// A head with no ':' on its line: a BASE64 value going on unindented, or a
// line left out.
void LineWithoutColon(State& s, Position& at, unsigned long line) {
  bool base64 = at.inCard && s.openBinary;
  for (std::size_t i = 0; i < s.head.length && base64; ++i)
    base64 = IsBase64Char(static_cast<unsigned char>(s.head.text[i])) || s.head.text[i] == ' ' ||
             s.head.text[i] == '\t';
  if (base64) {
    s.value.Utf8(s.head.text, s.head.length);
  } else if (at.inCard) {
    s.problems->Add(line, "card %u: a line without ':' left out",
                    "カード %u: ':' のない行を除きました", s.card);
  } else {
    OutsideCard(s, at, line);
  }
}

// BEGIN, END and VERSION lines: cards start and end; false for any other
// line.
bool CardMarker(State& s, Position& at, unsigned long line) {
  std::size_t nameLength = 0;
  while (nameLength < s.head.length && s.head.text[nameLength] != ';') ++nameLength;
  const bool begin = EqualsNoCase(s.head.text, nameLength, "BEGIN");
  const bool finish = EqualsNoCase(s.head.text, nameLength, "END");
  if (!begin && !finish && !EqualsNoCase(s.head.text, nameLength, "VERSION")) return false;
  char value[16];
  const std::size_t n = ReadShortValue(s.reader, value, sizeof value);
  const bool vcard = EqualsNoCase(value, n, "VCARD");
  if (begin && vcard) {
    if (at.inCard) {
      s.problems->Add(line, "card %u has no END:VCARD; ended before the next card",
                      "カード %u に END:VCARD がありません。次のカードの前で終えました", s.card);
      EndCard(s);
    }
    at.inCard = true;
    at.outsideReported = false;
    StartCard(s);
  } else if (!at.inCard) {
    OutsideCard(s, at, line);
  } else if (finish && vcard) {
    EndCard(s);
    at.inCard = false;
  } else if (begin || finish) {
    s.problems->Add(line, "card %u: %s:%.*s left out", "カード %u: %s:%.*s を除きました", s.card,
                    begin ? "BEGIN" : "END", static_cast<int>(n), value);
  }
  // VERSION: the card's is 3.0 now.
  return true;
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
  Position at;

  while (in.Peek() != -1) {
    if (s.reader.LineEnd()) continue;  // empty lines separate nothing
    const unsigned long line = s.reader.line;
    const HeadEnd end = ReadHead(s.reader, s.head);
    if (end == HeadEnd::kTooLong) {
      if (at.inCard) {
        problems.Add(line, "card %u: a line of more than %zu bytes before its ':' left out",
                     "カード %u: ':' の前が %zu バイトを超える行を除きました", s.card, kHeadBytes);
      } else {
        OutsideCard(s, at, line);
      }
    } else if (end == HeadEnd::kNoColon) {
      LineWithoutColon(s, at, line);
    } else if (CardMarker(s, at, line)) {
    } else if (!at.inCard) {
      SkipValue(s.reader, false);
      OutsideCard(s, at, line);
    } else {
      ConvertProperty(s, line);
    }
  }
  if (at.inCard) {
    problems.Add(s.reader.line, "card %u has no END:VCARD; ended at the end of the file",
                 "カード %u に END:VCARD がありません。ファイルの終わりで終えました", s.card);
    EndCard(s);
  }
  if (in.failed())
    problems.Add(0, "the file could not be read to its end", "ファイルを最後まで読めませんでした");
  out.Flush();
  return g_written;
}

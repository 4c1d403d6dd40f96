// The two ends of the vCard conversion: content lines read from 2.1 (line
// ends, folding, the head's name and parameters) and content lines written
// folded for 3.0.
//
// Read: content lines end in CR LF, LF or CR; a line end followed by a blank
// or TAB folds the line (the blank stays, as 2.1 has it).
//
// Written: values escaped as 3.0 text for their kind; lines folded at 75
// octets, between characters and never inside an escape.
#pragma once

#include <cstddef>
#include <cstring>

#include "export/stream.h"

namespace vcard {

constexpr int kEnd = -1;
constexpr std::size_t kHeadBytes = 1024;
constexpr std::size_t kFoldAt = 75;

bool EqualsNoCase(const char* a, std::size_t n, const char* b);
bool IsNameChar(char c);
bool IsBase64Char(int c);
int HexValue(int c);
std::size_t SequenceLength(unsigned char lead);
void Trim(char*& text, std::size_t& n);

// Content lines out, folded: a unit (a character or an escape pair) that
// would pass octet 75 starts a continuation line (CR LF and one blank).
class Folder {
 public:
  void Start(OutStream* out) {
    out_ = out;
    column_ = 0;
  }
  void Unit(const char* bytes, std::size_t n);
  // Whole UTF-8 characters, escape pairs kept together.
  void Escaped(const char* text, std::size_t n) { Characters(text, n, true); }
  // Whole UTF-8 characters of text that has no escapes (parameter values).
  void Plain(const char* text, std::size_t n) { Characters(text, n, false); }
  void Ascii(const char* text);
  void EndLine();

 private:
  void Characters(const char* text, std::size_t n, bool escapes);
  OutStream* out_ = nullptr;
  std::size_t column_ = 0;
};

// How a value is written.
enum class Kind {
  kCompound,  // N, ADR, ORG: text whose ';' separates components
  kText,      // FN, NOTE, ...: one text; ';' and ',' escaped
  kRaw,       // TEL, URL, BDAY, ...: no text escapes
  kBinary,    // BASE64: the base64 characters only
  kUnknown,   // others: escaped as text, ';' kept as the 2.1 separator it may be
};

constexpr std::size_t kNameBytes = 1024;  // N kept for an FN made from it

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

// The input's content lines, byte by byte.
struct Reader {
  InStream* in;
  unsigned long line = 1;

  // Consumes a line end (CR LF, LF or CR) if one stands next.
  bool LineEnd();
  // The next byte of the content line; kEnd at its end (the line end is
  // consumed). A folded line goes on after its line end, with its blank.
  int Next();
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

// A content line's head: the name and parameters before the ':' that is not
// inside quotes.
struct Head {
  char text[kHeadBytes];
  std::size_t length;
  Param params[kMaxParams];
};

enum class HeadEnd { kColon, kNoColon, kTooLong };

// Reads the head up to its ':'; a head too long has the rest of its line
// skipped.
HeadEnd ReadHead(Reader& reader, Head& head);
// Splits the head at the ';' outside quotes: the name, then the parameters.
// Returns the number of parameters.
int SplitHead(Head& head, std::size_t* nameLength);
// "group.NAME" or "NAME", of letters, digits and '-'.
bool ValidName(const char* name, std::size_t n, const char** bare, std::size_t* bareLength);
// A short value (BEGIN, END, VERSION), trimmed; the rest of a long one is
// skipped.
std::size_t ReadShortValue(Reader& reader, char* out, std::size_t cap);
// Everything of a value up to its end, quoted-printable soft breaks included.
void SkipValue(Reader& reader, bool quotedPrintable);

}  // namespace vcard

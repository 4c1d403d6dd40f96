#include "export/vcard_lines.h"

#include <cstring>

namespace vcard {

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

void Trim(char*& text, std::size_t& n) {
  while (n > 0 && (*text == ' ' || *text == '\t')) ++text, --n;
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
}

void Folder::Unit(const char* bytes, std::size_t n) {
  if (column_ + n > kFoldAt) {
    out_->Write("\r\n ", 3);
    column_ = 1;
  }
  out_->Write(bytes, n);
  column_ += n;
}

void Folder::Characters(const char* text, std::size_t n, bool escapes) {
  for (std::size_t i = 0; i < n;) {
    std::size_t len =
        escapes && text[i] == '\\' ? 2 : SequenceLength(static_cast<unsigned char>(text[i]));
    if (len > n - i) len = n - i;
    Unit(text + i, len);
    i += len;
  }
}

void Folder::Ascii(const char* text) { Escaped(text, std::strlen(text)); }

void Folder::EndLine() {
  out_->Write("\r\n", 2);
  column_ = 0;
}

bool Reader::LineEnd() {
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

int Reader::Next() {
  const int c = in->Peek();
  if (c == -1) return kEnd;
  if (c == '\r' || c == '\n') {
    LineEnd();
    const int d = in->Peek();
    return d == ' ' || d == '\t' ? in->Get() : kEnd;
  }
  return in->Get();
}

HeadEnd ReadHead(Reader& reader, Head& head) {
  bool quoted = false;
  std::size_t n = 0;
  for (;;) {
    const int c = reader.Next();
    if (c == kEnd) {
      head.length = n;
      return HeadEnd::kNoColon;
    }
    if (c == '"') quoted = !quoted;
    if (c == ':' && !quoted) break;
    if (n == kHeadBytes) {
      reader.SkipLine();
      head.length = n;
      return HeadEnd::kTooLong;
    }
    head.text[n++] = static_cast<char>(c);
  }
  head.length = n;
  return HeadEnd::kColon;
}

int SplitHead(Head& head, std::size_t* nameLength) {
  char* h = head.text;
  const std::size_t length = head.length;
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
    Param& p = head.params[count++];
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

std::size_t ReadShortValue(Reader& reader, char* out, std::size_t cap) {
  std::size_t n = 0;
  for (int c; (c = reader.Next()) != kEnd;) {
    if (n < cap) out[n++] = static_cast<char>(c);
  }
  char* start = out;
  Trim(start, n);
  std::memmove(out, start, n);
  return n;
}

void SkipValue(Reader& reader, bool quotedPrintable) {
  for (int c; (c = reader.Next()) != kEnd;) {
    if (c == '=' && quotedPrintable) reader.LineEnd();
  }
}

}  // namespace vcard

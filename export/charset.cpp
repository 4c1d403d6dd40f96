#include "export/charset.h"

#include <cstdio>
#include <cstring>

namespace {

bool IsShiftJisLead(BYTE b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Letters upper-cased, '-', '_' and blanks left out: "Shift_JIS", "SHIFT-JIS"
// and "shift_jis" compare equal.
std::size_t Normalise(const char* name, std::size_t length, char* out, std::size_t cap) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < length; ++i) {
    char c = name[i];
    if (c == '-' || c == '_' || c == ' ' || c == '\t') continue;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (n + 1 >= cap) return 0;
    out[n++] = c;
  }
  out[n] = 0;
  return n;
}

}  // namespace

UINT CodePageOfCharset(const char* name, std::size_t length) {
  static const struct {
    const char* name;
    UINT page;
  } kCharsets[] = {
      // What the handset's files say, and the other names of code page 932.
      {"SHIFTJIS", kShiftJisPage},
      {"SJIS", kShiftJisPage},
      {"XSJIS", kShiftJisPage},
      {"MSKANJI", kShiftJisPage},
      {"CSSHIFTJIS", kShiftJisPage},
      {"WINDOWS31J", kShiftJisPage},
      {"CSWINDOWS31J", kShiftJisPage},
      {"CP932", kShiftJisPage},
      {"MS932", kShiftJisPage},
      {"XMSCP932", kShiftJisPage},
      {"UTF8", CP_UTF8},
      {"USASCII", 20127},
      {"ASCII", 20127},
      {"ISO88591", 28591},
      {"LATIN1", 28591},
      {"ISO88592", 28592},
      {"ISO88595", 28595},
      {"ISO88597", 28597},
      {"ISO88599", 28599},
      {"ISO885915", 28605},
      {"WINDOWS1250", 1250},
      {"WINDOWS1251", 1251},
      {"WINDOWS1252", 1252},
      {"CP1252", 1252},
      {"KOI8R", 20866},
      {"EUCJP", 20932},
      {"XEUCJP", 20932},
      {"GB2312", 936},
      {"GBK", 936},
      {"CP936", 936},
      {"EUCKR", 949},
      {"KSC56011987", 949},
      {"BIG5", 950},
  };
  char key[32];
  if (Normalise(name, length, key, sizeof key) == 0) return 0;
  for (const auto& c : kCharsets) {
    if (std::strcmp(key, c.name) == 0) return c.page;
  }
  return 0;
}

const char* CharsetLabel(UINT codePage, char (&buffer)[24]) {
  if (codePage == kShiftJisPage) return "Shift-JIS";
  if (codePage == CP_UTF8) return "UTF-8";
  std::snprintf(buffer, sizeof buffer, "code page %u", codePage);
  return buffer;
}

void Decoder::Reset(UINT codePage) {
  codePage_ = codePage;
  invalid_ = 0;
  held_ = 0;
}

void Decoder::Feed(const void* bytes, std::size_t length, TextSink& sink) {
  const BYTE* p = static_cast<const BYTE*>(bytes);
  while (length > 0) {
    const std::size_t take = length < kPiece ? length : kPiece;
    std::memcpy(work_ + held_, p, take);
    const std::size_t n = held_ + take;
    held_ = 0;
    p += take;
    length -= take;
    Convert(work_, n, false, sink);
  }
}

void Decoder::Finish(TextSink& sink) {
  const std::size_t n = held_;
  held_ = 0;
  if (n > 0) Convert(work_, n, true, sink);
}

void Decoder::Replace(std::size_t count, TextSink& sink) {
  for (std::size_t i = 0; i < count; ++i) sink.Utf8("\xEF\xBF\xBD", 3);
  invalid_ += count;
}

// Whole characters only: false, with nothing written, when the bytes hold one
// that is invalid or cut off.
bool Decoder::Emit(const BYTE* in, std::size_t length, TextSink& sink) {
  if (length == 0) return true;
  std::size_t i = 0;
  while (i < length && in[i] < 0x80) ++i;
  // Every code page we convert has ASCII as its lower half.
  if (i == length) {
    sink.Utf8(reinterpret_cast<const char*>(in), length);
    return true;
  }
  const int wide = MultiByteToWideChar(codePage_, MB_ERR_INVALID_CHARS,
                                       reinterpret_cast<const char*>(in), static_cast<int>(length),
                                       wide_, static_cast<int>(sizeof wide_ / sizeof wide_[0]));
  if (wide <= 0) return false;
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide_, wide, utf8_, sizeof utf8_, nullptr, nullptr);
  if (bytes <= 0) return false;
  sink.Utf8(utf8_, static_cast<std::size_t>(bytes));
  return true;
}

void Decoder::Convert(const BYTE* in, std::size_t length, bool final, TextSink& sink) {
  // A byte below 0x40 is a character of its own in every code page we have
  // (never a trail byte): up to it the piece holds whole characters, and a
  // short rest after it waits for the next piece.
  std::size_t end = length;
  if (!final) {
    std::size_t i = length;
    while (i > 0 && length - i < kHold && in[i - 1] >= 0x40) --i;
    if (length - i < kHold) end = i;
  }
  std::size_t done = end;
  if (!Emit(in, end, sink)) {
    // Character by character: the shortest run of bytes that converts.
    std::size_t i = 0;
    while (i < end) {
      std::size_t n = 0;
      for (std::size_t len = 1; len <= 4 && i + len <= end; ++len) {
        if (Emit(in + i, len, sink)) {
          n = len;
          break;
        }
      }
      if (n > 0) {
        i += n;
        continue;
      }
      // Perhaps a character cut off at the end of the piece: wait for more.
      // Not so once a byte below 0x40 follows, which always stands alone.
      bool low = false;
      for (std::size_t k = i; k < end; ++k) low = low || in[k] < 0x40;
      if (!final && end == length && end - i < 4 && !low) break;
      std::size_t bad = 1;
      if (codePage_ == kShiftJisPage && IsShiftJisLead(in[i]) && i + 1 < end && in[i + 1] >= 0x80 &&
          in[i + 1] <= 0xFC)
        bad = 2;  // a pair that makes no character
      Replace(bad, sink);
      i += bad;
    }
    done = i;
  }
  held_ = length - done;
  std::memmove(work_, in + done, held_);
}

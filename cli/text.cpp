// Text for the terminal: wide text to UTF-8 and back, display columns, and the
// core's messages with their English meaning.
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <type_traits>

#include "cli/cli.h"
#include "link/messages.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Next code point of wide text: UTF-16 pairs joined on Windows; a lone
// surrogate or a value beyond Unicode gives U+FFFD.
char32_t NextCodePoint(const WCHAR*& p) {
  char32_t c = static_cast<char32_t>(static_cast<std::make_unsigned_t<WCHAR>>(*p++));
  if constexpr (sizeof(WCHAR) == 2) {
    if (c >= 0xD800 && c <= 0xDBFF && *p >= 0xDC00 && *p <= 0xDFFF) {
      return 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(*p++) - 0xDC00);
    }
  }
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return kReplacement;
  return c;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if constexpr (sizeof(WCHAR) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

struct Range {
  char32_t first, last;
};

// Marks that combine with the character before them: no column of their own.
constexpr Range kCombining[] = {{0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF},
                                {0x200B, 0x200F}, {0x20D0, 0x20FF}, {0x3099, 0x309A},
                                {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}};

// East Asian wide and full-width characters: two columns.
constexpr Range kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
                           {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
                           {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},
                           {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x1F300, 0x1F64F},
                           {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};

bool InRanges(char32_t c, const Range* ranges, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (c >= ranges[i].first && c <= ranges[i].last) return true;
  }
  return false;
}

int CodePointWidth(char32_t c) {
  if (InRanges(c, kCombining, std::size(kCombining))) return 0;
  if (InRanges(c, kWide, std::size(kWide))) return 2;
  return 1;
}

}  // namespace

void AppendText(std::string& out, const WCHAR* text, bool sanitize) {
  if (!text) return;
  for (const WCHAR* p = text; *p;) {
    const char32_t c = NextCodePoint(p);
    AppendUtf8(out, sanitize && IsControl(c) ? U'?' : c);
  }
}

std::string ToUtf8(const WCHAR* text, bool sanitize) {
  std::string out;
  AppendText(out, text, sanitize);
  return out;
}

std::wstring FromUtf8(const char* text) {
  std::wstring out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    const unsigned char b = *p;
    int extra;
    char32_t c, min;
    if (b < 0x80) {
      extra = 0, c = b, min = 0;
    } else if (b >= 0xC2 && b < 0xE0) {
      extra = 1, c = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b < 0xF0) {
      extra = 2, c = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b < 0xF5) {
      extra = 3, c = b & 0x07, min = 0x10000;
    } else {
      AppendWide(out, kReplacement);
      ++p;
      continue;
    }
    int i = 1;
    for (; i <= extra && (p[i] & 0xC0) == 0x80; ++i) c = (c << 6) | (p[i] & 0x3F);
    if (i <= extra || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      AppendWide(out, kReplacement);
      p += i;  // the lead byte and the continuation bytes seen; never the terminator
      continue;
    }
    AppendWide(out, c);
    p += extra + 1;
  }
  return out;
}

int DisplayWidth(const WCHAR* text) {
  int width = 0;
  for (const WCHAR* p = text; *p;) width += CodePointWidth(NextCodePoint(p));
  return width;
}

int AppendCut(std::string& out, const WCHAR* text, int columns, bool sanitize) {
  if (DisplayWidth(text) <= columns) {
    AppendText(out, text, sanitize);
    return DisplayWidth(text);
  }
  // Whole characters up to one column short, then the ellipsis in it.
  int width = 0;
  for (const WCHAR* p = text; *p;) {
    const char32_t c = NextCodePoint(p);
    const int w = CodePointWidth(c);
    if (width + w > columns - 1) break;
    AppendUtf8(out, sanitize && IsControl(c) ? U'?' : c);
    width += w;
  }
  if (columns < 1) return width;
  AppendUtf8(out, U'\u2026');
  return width + 1;
}

bool AddEnglish() {
  static const bool add = !IsJapaneseLocale();
  return add;
}

std::string WithMeaning(const WCHAR* text) {
  std::string line = ToUtf8(text, true);
  const char* english = nullptr;
  if (AddEnglish()) {
    // A message about one file has the file (and line) in front: "FILE: text".
    english = EnglishMeaning(text);
    const WCHAR* after = nullptr;
    for (const WCHAR* p = std::wcsstr(text, L": "); p; p = std::wcsstr(p + 1, L": ")) after = p + 2;
    if (!english && after) english = EnglishMeaning(after);
  }
  if (english && *english) {
    line += " (";
    line += english;
    line += ')';
  }
  return line;
}

// Wide strings as the CE runtime and file system treat them: _wcsicmp and
// _wcsnicmp fold ASCII letters only (to lower case, so '_' sorts before
// letters as it does there); names of files and registry keys compare with a
// wider folding. Also the UTF-8 conversions behind every path and registry text.
#include <cstdint>

#include "platform/posix/posix_internal.h"

static inline WCHAR AsciiLower(WCHAR c) { return (c >= L'A' && c <= L'Z') ? c + 32 : c; }

int _wcsicmp(const WCHAR* a, const WCHAR* b) {
  for (;; ++a, ++b) {
    const WCHAR x = AsciiLower(*a), y = AsciiLower(*b);
    if (x != y || x == 0) return static_cast<int>(x) - static_cast<int>(y);
  }
}

int _wcsnicmp(const WCHAR* a, const WCHAR* b, std::size_t n) {
  for (; n > 0; --n, ++a, ++b) {
    const WCHAR x = AsciiLower(*a), y = AsciiLower(*b);
    if (x != y || x == 0) return static_cast<int>(x) - static_cast<int>(y);
  }
  return 0;
}

WCHAR FoldCase(WCHAR c) {
  if (c < 0x80) return (c >= L'a' && c <= L'z') ? c - 32 : c;
  if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;   // Latin-1
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;  // Greek
  if (c >= 0x430 && c <= 0x44F) return c - 32;                // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return c - 80;                // Cyrillic Ѐ-Џ
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;              // full-width a-z
  return c;
}

static bool IsCharacter(std::uint32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

bool WideToUtf8(const WCHAR* wide, std::size_t units, char* out, std::size_t cap) {
  std::size_t o = 0;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t c = static_cast<std::uint32_t>(wide[i]);
    // A UTF-16 pair that reached us in two units is one character.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
      const std::uint32_t low = static_cast<std::uint32_t>(wide[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (!IsCharacter(c)) return false;
    const std::size_t n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (o + n >= cap) return false;
    if (n == 1) {
      out[o++] = static_cast<char>(c);
    } else {
      static const unsigned char kLead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
      out[o] = static_cast<char>(kLead[n] | (c >> (6 * (n - 1))));
      for (std::size_t k = 1; k < n; ++k)
        out[o + k] = static_cast<char>(0x80 | ((c >> (6 * (n - 1 - k))) & 0x3F));
      o += n;
    }
  }
  if (o >= cap) return false;
  out[o] = 0;
  return true;
}

bool Utf8ToWide(const char* text, std::size_t bytes, WCHAR* out, std::size_t cap, bool replace) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  std::size_t o = 0;
  for (std::size_t i = 0; i < bytes;) {
    const unsigned char b = s[i];
    std::size_t n = b < 0x80             ? 1
                    : (b & 0xE0) == 0xC0 ? 2
                    : (b & 0xF0) == 0xE0 ? 3
                    : (b & 0xF8) == 0xF0 ? 4
                                         : 0;
    std::uint32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = n != 0 && i + n <= bytes;
    for (std::size_t k = 1; ok && k < n; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    // Overlong forms and non-characters are malformed too.
    static const std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (ok && (c < kMin[n] || !IsCharacter(c))) ok = false;
    if (!ok) {
      if (!replace) return false;
      c = 0xFFFD;
      n = 1;
    }
    if (o + 1 >= cap) return false;
    out[o++] = static_cast<WCHAR>(c);
    i += n;
  }
  if (o >= cap) return false;
  out[o] = 0;
  return true;
}

bool WideToPosixPath(LPCWSTR wide, char* out, std::size_t cap) {
  if (!wide || !*wide) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::size_t units = 0;
  while (wide[units]) ++units;
  if (!WideToUtf8(wide, units, out, cap)) {
    SetLastError(units >= cap ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_PARAMETER);
    return false;
  }
  for (char* p = out; *p; ++p)
    if (*p == '\\') *p = '/';
  return true;
}

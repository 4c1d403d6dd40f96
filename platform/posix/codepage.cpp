// WideCharToMultiByte / MultiByteToWideChar as Win32 has them, with CP_ACP
// being Shift-JIS (code page 932) as on the Japanese handhelds, and CP_UTF8.
// Contract: a length of -1 means zero-terminated, terminator counted; an
// output size of 0 asks for the size needed; a too-small output fails with
// ERROR_INSUFFICIENT_BUFFER. A character code page 932 lacks becomes the
// default character ('?' unless given) and sets *usedDefault (there is no
// best-fit mapping). Bytes that are no Shift-JIS character become U+30FB (a
// lead byte without its proper trail; the code page's own default character)
// or '?' (a stray byte that cannot start a character), unless
// MB_ERR_INVALID_CHARS asks for failure with ERROR_NO_UNICODE_TRANSLATION.
// The conversion tables are iconv's ("CP932"); one converter per direction and
// thread, opened on first use. A few more code pages that files name by their
// charset (ISO-8859-x, the Windows code pages, EUC-JP, ...) are iconv's too,
// one converter per direction kept for the last one used; such a page has no
// default character of its own: an invalid byte becomes '?'.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/posix_internal.h"

#define CP_OEMCP_ 1u
#define CP_THREAD_ACP_ 3u
#define CP_SHIFT_JIS_ 932u
#define WC_ERR_INVALID_CHARS_ 0x80u

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

struct Converters {
  // Shift-JIS and UTF-8, each both ways; then the other page, both ways.
  iconv_t open[6] = {kNoConverter, kNoConverter, kNoConverter,
                     kNoConverter, kNoConverter, kNoConverter};
  UINT otherPage = 0;
  ~Converters() {
    for (iconv_t cd : open)
      if (cd != kNoConverter) ::iconv_close(cd);
  }
};
thread_local Converters t_converters;

// iconv's name of a code page beyond Shift-JIS and UTF-8; null for one we do
// not have.
const char* OtherCodePageName(UINT codePage) {
  static const struct {
    UINT page;
    const char* name;
  } kPages[] = {
      {20127, "ASCII"},      {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},
      {28594, "ISO-8859-4"}, {28595, "ISO-8859-5"}, {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},
      {28598, "ISO-8859-8"}, {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
      {1250, "CP1250"},      {1251, "CP1251"},      {1252, "CP1252"},       {1253, "CP1253"},
      {1254, "CP1254"},      {1255, "CP1255"},      {1256, "CP1256"},       {1257, "CP1257"},
      {1258, "CP1258"},      {20866, "KOI8-R"},     {21866, "KOI8-U"},      {20932, "EUC-JP"},
      {936, "CP936"},        {949, "CP949"},        {950, "CP950"}};
  for (const auto& p : kPages) {
    if (p.page == codePage) return p.name;
  }
  return nullptr;
}

// The converter for a code page and direction, reset to its initial state;
// kNoConverter with ERROR_INVALID_PARAMETER for a code page we do not have.
iconv_t Converter(UINT codePage, bool toMulti, bool* utf8) {
  *utf8 = codePage == CP_UTF8;
  const bool shiftJis = codePage == CP_ACP || codePage == CP_OEMCP_ || codePage == CP_THREAD_ACP_ ||
                        codePage == CP_SHIFT_JIS_;
  const char* multi = *utf8 ? "UTF-8" : shiftJis ? "CP932" : OtherCodePageName(codePage);
  if (!multi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kNoConverter;
  }
  const int slot = (*utf8 ? 2 : shiftJis ? 0 : 4) + (toMulti ? 1 : 0);
  iconv_t& cd = t_converters.open[slot];
  if (slot >= 4 && t_converters.otherPage != codePage) {
    for (int i = 4; i < 6; ++i) {
      if (t_converters.open[i] != kNoConverter) ::iconv_close(t_converters.open[i]);
      t_converters.open[i] = kNoConverter;
    }
    t_converters.otherPage = codePage;
  }
  if (cd == kNoConverter) {
    cd = toMulti ? ::iconv_open(multi, "WCHAR_T") : ::iconv_open("WCHAR_T", multi);
    if (cd == kNoConverter) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return kNoConverter;
    }
  }
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  return cd;
}

bool IsShiftJisPage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP_ || codePage == CP_THREAD_ACP_ ||
         codePage == CP_SHIFT_JIS_;
}

// Where converted output goes: the caller's buffer, or (when it only asks
// for the size) a small scratch area that is counted and reused.
struct Output {
  char* next;
  std::size_t left;
  bool counting;
  std::size_t counted = 0;
  alignas(WCHAR) char scratch[256];

  Output(void* buffer, std::size_t bytes) : counting(bytes == 0) {
    next = counting ? scratch : static_cast<char*>(buffer);
    left = counting ? sizeof scratch : bytes;
  }
  // Makes room after E2BIG; false when the caller's buffer is full.
  bool Drain() {
    if (!counting) return false;
    counted += static_cast<std::size_t>(next - scratch);
    next = scratch;
    left = sizeof scratch;
    return true;
  }
  bool Put(const void* bytes, std::size_t n) {
    if (left < n && !Drain()) return false;
    std::memcpy(next, bytes, n);
    next += n;
    left -= n;
    return true;
  }
  std::size_t Total(const void* start) const {
    return counting ? counted + static_cast<std::size_t>(next - scratch)
                    : static_cast<std::size_t>(next - static_cast<const char*>(start));
  }
};

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// A failed conversion: the error for GetLastError, and 0.
int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// What both directions ask of their arguments: input of inLength units (-1:
// zero-terminated; never 0) and an output buffer of outLength units (0: only
// the size is asked for).
bool ValidArguments(const void* in, int inLength, const void* out, int outLength) {
  return in && inLength != 0 && inLength >= -1 && outLength >= 0 && (outLength == 0 || out);
}

}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR multi,
                        int multiLength, LPCSTR defaultChar, BOOL* usedDefault) {
  if (usedDefault) *usedDefault = FALSE;
  if (!ValidArguments(wide, wideLength, multi, multiLength)) return Fail(ERROR_INVALID_PARAMETER);
  bool utf8 = false;
  iconv_t cd = Converter(codePage, true, &utf8);
  if (cd == kNoConverter) return 0;
  const std::size_t units = wideLength == -1 ? std::wcslen(wide) + 1 : wideLength;
  const char* fallback = utf8 ? "\xEF\xBF\xBD" : (defaultChar && *defaultChar ? defaultChar : "?");
  const std::size_t fallbackBytes = utf8 ? 3 : (fallback[1] && IsLeadByte(fallback[0]) ? 2 : 1);

  char* in = const_cast<char*>(reinterpret_cast<const char*>(wide));
  std::size_t inLeft = units * sizeof(WCHAR);
  Output out(multi, static_cast<std::size_t>(multiLength));
  while (inLeft > 0) {
    if (::iconv(cd, &in, &inLeft, &out.next, &out.left) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      if (out.Drain()) continue;
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // A character the code page lacks (or a value that is no character).
    if (utf8 && (flags & WC_ERR_INVALID_CHARS_)) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (!out.Put(fallback, fallbackBytes)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (usedDefault && !utf8) *usedDefault = TRUE;
    in += sizeof(WCHAR);
    inLeft -= sizeof(WCHAR);
  }
  const std::size_t total = out.Total(multi);
  if (total > 0x7FFFFFFF) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return static_cast<int>(total);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int multiLength, LPWSTR wide,
                        int wideLength) {
  if (!ValidArguments(multi, multiLength, wide, wideLength)) return Fail(ERROR_INVALID_PARAMETER);
  bool utf8 = false;
  iconv_t cd = Converter(codePage, false, &utf8);
  if (cd == kNoConverter) return 0;
  const std::size_t bytes = multiLength == -1 ? std::strlen(multi) + 1 : multiLength;
  // iconv's UTF-8 takes sequences for values beyond U+10FFFF (leads F5 and
  // up, F4 with 90 and up), which are no characters to Windows.
  bool beyondUnicode = false;
  for (std::size_t i = 0; utf8 && i < bytes; ++i) {
    const unsigned char b = static_cast<unsigned char>(multi[i]);
    if (b >= 0xF5 ||
        (b == 0xF4 && i + 1 < bytes && static_cast<unsigned char>(multi[i + 1]) >= 0x90))
      beyondUnicode = true;
  }
  if (beyondUnicode && (flags & MB_ERR_INVALID_CHARS)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }

  char* in = const_cast<char*>(multi);
  std::size_t inLeft = bytes;
  Output out(wide, static_cast<std::size_t>(wideLength) * sizeof(WCHAR));
  while (inLeft > 0) {
    if (::iconv(cd, &in, &inLeft, &out.next, &out.left) != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) {
      if (out.Drain()) continue;
      return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // EILSEQ, or EINVAL for a lead byte cut off at the end of the input.
    if (flags & MB_ERR_INVALID_CHARS) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    const unsigned char b = static_cast<unsigned char>(*in);
    const bool sjisLead = IsShiftJisPage(codePage) && IsLeadByte(b);
    const WCHAR replacement = utf8 ? 0xFFFD : sjisLead ? 0x30FB : L'?';
    std::size_t skip = 1;
    if (sjisLead && inLeft > 1) {
      const unsigned char t = static_cast<unsigned char>(in[1]);
      if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC)) skip = 2;  // unassigned pair
    }
    if (!out.Put(&replacement, sizeof replacement)) return Fail(ERROR_INSUFFICIENT_BUFFER);
    in += skip;
    inLeft -= skip;
  }
  const std::size_t total = out.Total(wide) / sizeof(WCHAR);
  if (total > 0x7FFFFFFF) return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (beyondUnicode && !out.counting) {
    for (std::size_t i = 0; i < total; ++i)
      if (static_cast<unsigned long>(wide[i]) > 0x10FFFF) wide[i] = 0xFFFD;
  }
  return static_cast<int>(total);
}

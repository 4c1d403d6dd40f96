// UTF-8 into code page 932 with CR LF line ends, one character at a time
// through the platform's conversion, in fixed buffers.
#include "upload/text_convert.h"

#include "link/messages.h"
#include "upload/upload_io.h"

namespace {

constexpr UINT kHandsetCodePage = 932;
constexpr DWORD kChunk = 4096;

BYTE g_in[kChunk];
char g_out[kChunk + 8];  // room for one more character and its line end
WCHAR g_bad[3];

#ifdef WC_NO_BEST_FIT_CHARS
constexpr DWORD kNoBestFit = WC_NO_BEST_FIT_CHARS;
#else
constexpr DWORD kNoBestFit = 0;
#endif

// A strict UTF-8 decoder fed a byte at a time: no overlong forms, no
// surrogates, nothing above U+10FFFF.
struct Utf8Scan {
  int need = 0;  // continuation bytes still to come
  unsigned long cp = 0, min = 0;
  int length = 0;  // bytes of the sequence so far
  // 1: a character is complete (cp), 0: more to come, -1: not UTF-8.
  int Feed(BYTE b) {
    if (need == 0) {
      length = 1;
      if (b < 0x80) {
        cp = b;
        return 1;
      }
      if (b >= 0xC2 && b <= 0xDF) {
        need = 1, cp = b & 0x1F, min = 0x80;
      } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2, cp = b & 0x0F, min = 0x800;
      } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3, cp = b & 0x07, min = 0x10000;
      } else {
        return -1;
      }
      return 0;
    }
    if ((b & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (b & 0x3F);
    ++length;
    if (--need > 0) return 0;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return 1;
  }
};

const BYTE kBom[3] = {0xEF, 0xBB, 0xBF};

// Scans bytes on from *scan; false at a byte that is not UTF-8.
bool ScanBytes(Utf8Scan* scan, const BYTE* bytes, DWORD n, bool* multiByte) {
  for (DWORD i = 0; i < n; ++i) {
    const int r = scan->Feed(bytes[i]);
    if (r < 0) return false;
    if (r > 0 && scan->length > 1) *multiByte = true;
  }
  return true;
}

int KindOf(bool bom, bool valid, bool multiByte) {
  if (bom) return valid ? 1 : -1;
  return valid && multiByte ? 1 : 0;
}

// The whole file scanned from its start.
int FileKind(HANDLE file) {
  Utf8Scan scan;
  bool multiByte = false, valid = true, first = true, bom = false;
  DWORD got = 0;
  while (ReadFile(file, g_in, kChunk, &got, nullptr) && got > 0) {
    DWORD from = 0;
    if (first && got >= 3 && g_in[0] == kBom[0] && g_in[1] == kBom[1] && g_in[2] == kBom[2]) {
      bom = true;
      from = 3;
    }
    first = false;
    if (valid && !ScanBytes(&scan, g_in + from, got - from, &multiByte)) valid = false;
    if (!valid && !bom) break;
  }
  return KindOf(bom, valid && scan.need == 0, multiByte);
}

struct Writer {
  HANDLE file;
  DWORD used = 0;
  bool ok = true;
  void Put(const char* bytes, int n) {
    for (int i = 0; i < n; ++i) g_out[used++] = bytes[i];
    if (used >= kChunk) Flush();
  }
  void Flush() {
    DWORD written = 0;
    if (used > 0 && (!WriteFile(file, g_out, used, &written, nullptr) || written != used))
      ok = false;
    used = 0;
  }
};

// One character (its UTF-8 bytes) in code page 932; false when the page does
// not hold it, with the character kept for UnconvertedCharacter().
bool PutCharacter(Writer* w, const BYTE* utf8, int length) {
  WCHAR wide[3] = {};
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                        reinterpret_cast<const char*>(utf8), length, wide, 2);
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int n = units > 0 ? WideCharToMultiByte(kHandsetCodePage, kNoBestFit, wide, units, bytes,
                                                sizeof bytes, nullptr, &usedDefault)
                          : 0;
  // A default character or a look-alike does not read back as the character.
  WCHAR back[3] = {};
  const int backUnits =
      n > 0 && !usedDefault
          ? MultiByteToWideChar(kHandsetCodePage, MB_ERR_INVALID_CHARS, bytes, n, back, 2)
          : 0;
  if (backUnits != units || back[0] != wide[0] || (units > 1 && back[1] != wide[1])) {
    g_bad[0] = wide[0];
    g_bad[1] = units > 1 ? wide[1] : 0;
    g_bad[2] = 0;
    return false;
  }
  w->Put(bytes, n);
  return true;
}

}  // namespace

const WCHAR* UnconvertedCharacter() { return g_bad; }

int Utf8TextKind(const BYTE* bytes, DWORD n) {
  const bool bom = n >= 3 && bytes[0] == kBom[0] && bytes[1] == kBom[1] && bytes[2] == kBom[2];
  Utf8Scan scan;
  bool multiByte = false;
  const DWORD from = bom ? 3 : 0;
  const bool valid = ScanBytes(&scan, bytes + from, n - from, &multiByte) && scan.need == 0;
  return KindOf(bom, valid, multiByte);
}

Message ConvertUtf8Text(const WCHAR* path, const WCHAR* to, bool* converted) {
  *converted = false;
  g_bad[0] = 0;
  HANDLE in = OpenForUpload(path);
  if (in == INVALID_HANDLE_VALUE) return MSG_FILE_OPEN_ERROR;
  const int kind = FileKind(in);
  if (kind <= 0) {
    CloseHandle(in);
    return kind < 0 ? AtLine(MSG_CHECK_FORMAT, 1) : nullptr;
  }
  SetFilePointer(in, 0, nullptr, FILE_BEGIN);
  Writer w;
  w.file =
      CreateFileW(to, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (w.file == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return MSG_CANNOT_WRITE;
  }
  Message problem = nullptr;
  Utf8Scan scan;
  BYTE sequence[4];
  int line = 1;
  bool first = true, lastCr = false;
  DWORD got = 0;
  while (!problem && ReadFile(in, g_in, kChunk, &got, nullptr) && got > 0) {
    DWORD i = 0;
    if (first && got >= 3 && g_in[0] == kBom[0] && g_in[1] == kBom[1] && g_in[2] == kBom[2]) i = 3;
    first = false;
    for (; i < got && !problem; ++i) {
      const int r = scan.Feed(g_in[i]);
      if (r == 0) {
        sequence[scan.length - 1] = g_in[i];
        continue;
      }
      if (r < 0) {  // the file changed since it was scanned
        problem = AtLine(MSG_CHECK_FORMAT, line);
        break;
      }
      sequence[scan.length - 1] = g_in[i];
      if (scan.cp == '\n') {
        if (!lastCr) w.Put("\r", 1);
        w.Put("\n", 1);
        ++line;
      } else if (!PutCharacter(&w, sequence, scan.length)) {
        problem = AtLine(MSG_CHECK_CHARACTER, line);
      }
      lastCr = scan.cp == '\r';
    }
  }
  CloseHandle(in);
  if (!problem) {
    w.Flush();
    if (!w.ok) problem = MSG_CANNOT_WRITE;
  }
  CloseHandle(w.file);
  if (problem) {
    DeleteFileW(to);
    return problem;
  }
  *converted = true;
  return nullptr;
}

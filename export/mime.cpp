#include "export/mime.h"

bool IsPictogram(const unsigned char* c) {
  // U+E000..U+E757: EE 80 80 .. EE 9D 97
  if (c[0] != 0xEE) return false;
  const unsigned cp = ((c[1] & 0x3Fu) << 6) | (c[2] & 0x3Fu);
  return cp <= 0x757;
}

void WriteHeaderText(OutStream& out, const char* utf8, std::size_t n) {
  const std::string text(utf8, n);
  bool ascii = true;
  for (char c : text)
    ascii = ascii && static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
  if (ascii && n <= 900 && text.find("=?") == std::string::npos) {
    out.Write(utf8, n);
    return;
  }
  static const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  constexpr std::size_t kWordBytes = 45;  // 60 base64 characters: 72 with "=?UTF-8?B?" and "?="
  bool first = true;
  for (std::size_t i = 0; i < n || first;) {
    std::size_t end = i;
    while (end < n) {
      std::size_t next = end + 1;
      while (next < n && (static_cast<unsigned char>(utf8[next]) & 0xC0) == 0x80) ++next;
      if (next - i > kWordBytes) break;
      end = next;
    }
    if (end == i && i < n) ++end;  // cannot happen with whole characters; keeps going
    if (!first) out.Write("\r\n ", 3);
    first = false;
    out.Text("=?UTF-8?B?");
    for (std::size_t k = i; k < end; k += 3) {
      const unsigned a = static_cast<unsigned char>(utf8[k]);
      const unsigned b = k + 1 < end ? static_cast<unsigned char>(utf8[k + 1]) : 0;
      const unsigned c = k + 2 < end ? static_cast<unsigned char>(utf8[k + 2]) : 0;
      const unsigned v = (a << 16) | (b << 8) | c;
      out.Put(kB64[(v >> 18) & 63]);
      out.Put(kB64[(v >> 12) & 63]);
      out.Put(k + 1 < end ? kB64[(v >> 6) & 63] : '=');
      out.Put(k + 2 < end ? kB64[v & 63] : '=');
    }
    out.Text("?=");
    i = end;
  }
}

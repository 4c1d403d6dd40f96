#include "download/field_record.h"

#include <climits>
#include <cstring>

static DWORD LengthAt(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

bool FieldLength(int pos, int end, DWORD* length) {
  if (pos < 0 || pos > end - kFieldHeaderBytes) return false;
  *length = LengthAt(g_packet + pos + 3);
  return true;
}

char* TakeField(int* pos, int end, DWORD* length) {
  DWORD n;
  if (!FieldLength(*pos, end, &n)) return nullptr;
  const int data = *pos + kFieldHeaderBytes;
  // The handset's length is not trusted: the data must lie in what arrived.
  if (n > static_cast<DWORD>(end - data)) return nullptr;
  const int next = data + static_cast<int>(n);
  g_packet[next] = 0;  // the next field's start byte, never read again (at most byte 4096)
  *pos = next;
  *length = n;
  return reinterpret_cast<char*>(g_packet + data);
}

char* DecodeField(int* pos, int end, BYTE tag, bool* bad) {
  if (*pos < 0 || *pos + 1 >= end || g_packet[*pos + 1] != tag) return nullptr;
  DWORD n;
  char* data = TakeField(pos, end, &n);
  if (!data) *bad = true;
  return data;
}

BYTE* EncodeField(BYTE* dst, BYTE tag, BYTE type, const void* data, DWORD length) {
  dst[0] = kFieldStart;
  dst[1] = tag;
  dst[2] = type;
  dst[3] = static_cast<BYTE>(length);
  dst[4] = static_cast<BYTE>(length >> 8);
  dst[5] = static_cast<BYTE>(length >> 16);
  dst[6] = static_cast<BYTE>(length >> 24);
  if (length > 0) std::memmove(dst + kFieldHeaderBytes, data, length);
  return dst + kFieldHeaderBytes + length;
}

int ReadDecimal(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    if (value <= INT_MAX) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

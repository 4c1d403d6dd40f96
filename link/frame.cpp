#include "link/frame.h"

#include <cstdint>
#include <cstring>

#include "link/trace.h"

DWORD g_silenceLimitMs = kSilenceLimitMs;
DWORD g_receiveDeadlineMs = kReceiveDeadlineMs;

// Requests whose payload fits this go out in one write.
constexpr DWORD kJoinedPayload = 512;

int SendRequest(unsigned code, unsigned selector, const char* payload) {
  const bool headerOnly = (selector & kHeaderOnly) != 0;
  const DWORD n = headerOnly ? static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(payload))
                             : static_cast<DWORD>(std::strlen(payload));
  const DWORD length = n + 4;
  const BYTE header[kHeaderBytes] = {kMarker,
                                     kDirRequest,
                                     static_cast<BYTE>(code >> 8),
                                     static_cast<BYTE>(code),
                                     static_cast<BYTE>(length),
                                     static_cast<BYTE>(length >> 8),
                                     static_cast<BYTE>(length >> 16),
                                     static_cast<BYTE>(length >> 24),
                                     0,
                                     static_cast<BYTE>(selector >> 8),
                                     0,
                                     static_cast<BYTE>(selector)};
  DWORD written = 0;
  if (!headerOnly && n <= kJoinedPayload) {
    // A short request goes out in one write: half the calls, and the handset
    // is woken once per request rather than once for the header alone.
    BYTE joined[kHeaderBytes + kJoinedPayload];
    std::memcpy(joined, header, kHeaderBytes);
    std::memcpy(joined + kHeaderBytes, payload, n);
    const DWORD total = kHeaderBytes + n;
    return PortWrite(joined, total, &written) && written == total ? 0 : -1;
  }
  if (!PortWrite(header, kHeaderBytes, &written) || written != kHeaderBytes) return -1;
  if (headerOnly) return 0;
  written = 0;
  if (!PortWrite(payload, n, &written) || written != n) return -1;
  return 0;
}

int SendRequest(Request request, const char* payload) {
  return SendRequest(request.code, request.selector, payload);
}

int SendHeader(Request request, DWORD payloadLength) {
  return SendRequest(request.code, request.selector | kHeaderOnly,
                     reinterpret_cast<const char*>(static_cast<std::uintptr_t>(payloadLength)));
}

// One read call that treats a silent handset as a failure once the silence
// limit has passed without a single byte. *got is what arrived (maybe 0).
static bool ReadBounded(BYTE* dst, DWORD want, DWORD* got, DWORD* silentSince) {
  *got = 0;
  // Asked to stop: no more waiting for the handset, unless a set is being replaced.
  if (g_stopRequest && !g_stopHeld) return false;
  if (!PortRead(dst, want, got)) return false;
  const DWORD now = GetTickCount();
  if (*got > 0) {
    *silentSince = now;
    return true;
  }
  return now - *silentSince < g_silenceLimitMs;
}

// ReadBounded, unless the receive that began at started is out of time. A
// read that completes a frame is never held against it.
static bool ReadBeforeDeadline(BYTE* dst, DWORD want, DWORD* got, DWORD* silentSince,
                               DWORD started) {
  *got = 0;
  return GetTickCount() - started < g_receiveDeadlineMs && ReadBounded(dst, want, got, silentSince);
}

int ReceiveResponse(int mode) {
  BYTE* const buf = g_packet;
  buf[12] = 0xFF;
  buf[13] = 0;
  const DWORD started = GetTickCount();
  DWORD silentSince = started;

  int k = 0;
  while (k < kHeaderBytes) {
    DWORD got;
    if (!ReadBeforeDeadline(buf + k, static_cast<DWORD>(kHeaderBytes - k), &got, &silentSince,
                            started))
      return -1;
    k += static_cast<int>(got);
    if (k >= 2) {
      int i = 0;
      while (i + 2 <= k && !(buf[i] == kMarker && buf[i + 1] == kDirResponse)) ++i;
      if (i + 2 > k) {
        buf[0] = buf[k - 1];  // may be the first half of a marker
        k = 1;
      } else if (i > 0) {
        std::memmove(buf, buf + i, static_cast<std::size_t>(k - i));
        k -= i;
      }
    }
  }

  const std::int32_t length = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(buf[4]) | (static_cast<std::uint32_t>(buf[5]) << 8) |
      (static_cast<std::uint32_t>(buf[6]) << 16) | (static_cast<std::uint32_t>(buf[7]) << 24));
  // Computed wide: a corrupt length near INT_MAX must not overflow.
  const std::int64_t total64 = static_cast<std::int64_t>(length) + 8;
  const int total = total64 > INT32_MAX ? INT32_MAX : static_cast<int>(total64);
  if (mode == kHeaderOnlyMode) return total;
  if (total < kHeaderBytes) return -1;

  const int end = total < kMaxFrame ? total : kMaxFrame;
  int have = kHeaderBytes;
  while (have < end) {
    DWORD got;
    if (!ReadBeforeDeadline(buf + have, static_cast<DWORD>(end - have), &got, &silentSince,
                            started))
      return -1;
    have += static_cast<int>(got);
  }
  buf[end] = 0;
  return total;
}

bool ReadPortExact(BYTE* dst, DWORD n) {
  const DWORD started = GetTickCount();
  DWORD silentSince = started;
  while (n > 0) {
    DWORD got;
    if (!ReadBeforeDeadline(dst, n, &got, &silentSince, started)) return false;
    dst += got;
    n -= got;
  }
  return true;
}

long ReadPortSome(BYTE* dst, DWORD max) {
  DWORD silentSince = GetTickCount();
  for (;;) {
    DWORD got;
    if (!ReadBounded(dst, max, &got, &silentSince)) return -1;
    if (got > 0) return static_cast<long>(got);
  }
}

bool WritePortAll(const void* src, DWORD n) {
  const BYTE* p = static_cast<const BYTE*>(src);
  DWORD stalledSince = GetTickCount();
  while (n > 0) {
    DWORD written = 0;
    if (!PortWrite(p, n, &written)) return false;
    const DWORD now = GetTickCount();
    if (written > 0) {
      stalledSince = now;
      p += written;
      n -= written;
    } else if (now - stalledSince >= g_silenceLimitMs) {
      return false;
    }
  }
  return true;
}

#include "link/trace.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "palvo_version.h"

bool g_tracing = false;

#ifdef _WIN32
// A file made in the user's own folders inherits their protection.
static SECURITY_ATTRIBUTES* const kOwnerOnlyFile = nullptr;
#endif

namespace {

constexpr int kHeaderBytes = 12;
// A line holds at most this many bytes of a chunk; a longer chunk goes on
// several lines with the same time.
constexpr DWORD kLineChunk = 4096;
constexpr DWORD kLineBytes = 2 * kLineChunk + 512;

enum class Payload { kKeep, kPin, kPrivate, kNameThenPrivate };

// Where a direction's byte stream stands: in a frame header, or in a payload
// of a known kind. Followed byte by byte, so that frames split over chunks
// (a header alone, then its payload in pieces) are redacted alike.
struct Stream {
  BYTE header[kHeaderBytes];
  int have;
  std::uint32_t remain;
  Payload kind;
  int tabs;  // of the name part still to come (kNameThenPrivate)
};

struct Trace {
  HANDLE file = INVALID_HANDLE_VALUE;
  TraceLevel level = TraceLevel::kRedacted;
  DWORD started = 0;
  bool headed = false;
  char system[128] = {};
  std::uint64_t salt = 0;
  Stream out = {}, in = {};
  char line[kLineBytes];
  DWORD used = 0;
};

Trace g_trace;

void Put(const char* text) {
  const std::size_t n = std::strlen(text);
  if (g_trace.used + n >= kLineBytes) return;
  std::memcpy(g_trace.line + g_trace.used, text, n);
  g_trace.used += static_cast<DWORD>(n);
}

// Each line goes out whole in one write, so a killed program leaves whole
// lines (at most the last one cut).
void EndLine() {
  g_trace.line[g_trace.used++] = '\n';
  DWORD written = 0;
  WriteFile(g_trace.file, g_trace.line, g_trace.used, &written, nullptr);
  g_trace.used = 0;
}

void StartLine(const char* what) {
  char head[32];
  std::snprintf(head, sizeof head, "%lu %s",
                static_cast<unsigned long>(GetTickCount() - g_trace.started), what);
  g_trace.used = 0;
  Put(head);
}

void PutWide(const WCHAR* text) {
  char utf8[kPathUnits * 3 + 1];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  Put(n > 0 ? utf8 : "?");
}

Payload Classify(char direction, BYTE group, BYTE operation) {
  const bool request = direction == '>';
  if (request && group == 2 && operation == 1) return Payload::kPin;
  if (g_trace.level != TraceLevel::kPrivate) return Payload::kKeep;
  // A file's name and category stay; its bytes do not.
  if (group == 6 && operation == (request ? 3 : 2)) return Payload::kNameThenPrivate;
  // Bookmarks, addresses, light mails and mails, each way.
  const bool item = group == 3 || group == 4 || group == 5 || group == 8;
  if (item && operation == (request ? 3 : 2)) return Payload::kPrivate;
  return Payload::kKeep;
}

// What byte b of the stream is, the stream moved past it.
Payload Next(Stream* s, char direction, BYTE b) {
  if (s->remain > 0) {
    --s->remain;
    if (s->kind == Payload::kNameThenPrivate) {
      if (s->tabs == 0) return Payload::kPrivate;
      if (b == '\t') --s->tabs;
      return Payload::kKeep;
    }
    return s->kind;
  }
  // Header: 0xE1, then the direction byte, else noise (kept as it is).
  const BYTE dir = direction == '>' ? 0x01 : 0x02;
  if ((s->have == 0 && b != 0xE1) || (s->have == 1 && b != dir)) {
    s->have = b == 0xE1 ? 1 : 0;
    return Payload::kKeep;
  }
  s->header[s->have++] = b;
  if (s->have == kHeaderBytes) {
    s->have = 0;
    const std::uint32_t length = static_cast<std::uint32_t>(s->header[4]) |
                                 (static_cast<std::uint32_t>(s->header[5]) << 8) |
                                 (static_cast<std::uint32_t>(s->header[6]) << 16) |
                                 (static_cast<std::uint32_t>(s->header[7]) << 24);
    s->remain = length > 4 && length < 0x80000000u ? length - 4 : 0;
    s->kind = Classify(direction, s->header[9], s->header[11]);
    s->tabs = 2;
  }
  return Payload::kKeep;
}

const char kHex[] = "0123456789abcdef";

void PutRun(Payload kind, DWORD count, std::uint64_t hash) {
  char token[64];
  if (kind == Payload::kPin) {
    std::snprintf(token, sizeof token, " pin:%lu", static_cast<unsigned long>(count));
  } else {
    std::snprintf(token, sizeof token, " private:%lu:%016llx", static_cast<unsigned long>(count),
                  static_cast<unsigned long long>(hash));
  }
  Put(token);
}

void ChunkLine(char direction, const BYTE* p, DWORD n) {
  Stream* s = direction == '>' ? &g_trace.out : &g_trace.in;
  StartLine(direction == '>' ? ">" : "<");
  bool inHex = false;
  Payload run = Payload::kKeep;
  DWORD runCount = 0;
  std::uint64_t hash = 0;
  for (DWORD i = 0; i < n; ++i) {
    if (g_trace.used + 128 > kLineBytes) {  // a full line: go on in one of its own
      if (runCount > 0) PutRun(run, runCount, hash);
      runCount = 0;
      EndLine();
      StartLine(direction == '>' ? ">" : "<");
      inHex = false;
    }
    // Inside a payload whose kind holds to its end: the whole stretch at
    // once (a file's contents go this way, 4096 bytes a read).
    const bool bulk = s->remain > 1 && (s->kind == Payload::kKeep || s->kind == Payload::kPrivate ||
                                        (s->kind == Payload::kNameThenPrivate && s->tabs == 0));
    if (bulk) {
      const Payload whole = s->kind == Payload::kKeep ? Payload::kKeep : Payload::kPrivate;
      DWORD k = n - i < s->remain ? n - i : static_cast<DWORD>(s->remain);
      if (whole == Payload::kKeep) {
        const DWORD room = (kLineBytes - g_trace.used - 64) / 2;
        if (k > room) k = room;
        if (runCount > 0) PutRun(run, runCount, hash);
        runCount = 0;
        if (!inHex) g_trace.line[g_trace.used++] = ' ';
        inHex = true;
        char* out = g_trace.line + g_trace.used;
        for (DWORD j = 0; j < k; ++j) {
          *out++ = kHex[p[i + j] >> 4];
          *out++ = kHex[p[i + j] & 15];
        }
        g_trace.used += 2 * k;
      } else {
        if (runCount > 0 && run != whole) PutRun(run, runCount, hash);
        if (runCount == 0 || run != whole) {
          hash = 1469598103934665603ull ^ g_trace.salt;
          runCount = 0;
        }
        run = whole;
        for (DWORD j = 0; j < k; ++j) hash = (hash ^ p[i + j]) * 1099511628211ull;
        runCount += k;
        inHex = false;
      }
      s->remain -= k;
      i += k - 1;
      continue;
    }
    const Payload kind = Next(s, direction, p[i]);
    if (kind != Payload::kKeep) {
      if (runCount > 0 && kind != run) {
        PutRun(run, runCount, hash);
        runCount = 0;
      }
      if (runCount == 0) hash = 1469598103934665603ull ^ g_trace.salt;  // FNV-1a, salted
      run = kind;
      ++runCount;
      hash = (hash ^ p[i]) * 1099511628211ull;
      inHex = false;
      continue;
    }
    if (runCount > 0) {
      PutRun(run, runCount, hash);
      runCount = 0;
    }
    if (!inHex) {
      g_trace.line[g_trace.used++] = ' ';
      inHex = true;
    }
    g_trace.line[g_trace.used++] = kHex[p[i] >> 4];
    g_trace.line[g_trace.used++] = kHex[p[i] & 15];
  }
  if (runCount > 0) PutRun(run, runCount, hash);
  EndLine();
}

void WriteHeader(HANDLE port, const WCHAR* name) {
  g_trace.used = 0;
  Put("palvo-trace 1; palvo " PALVO_VERSION "; system ");
  Put(g_trace.system);
  Put("; port ");
  PutWide(name);
  // The port's settings are the timeouts the link gives it; speed and
  // framing are the USB serial driver's own.
  COMMTIMEOUTS t = {};
  char settings[200] = "unknown";
  if (GetCommTimeouts(port, &t)) {
    char v[5][16];
    const DWORD values[5] = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                             t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                             t.WriteTotalTimeoutConstant};
    for (int i = 0; i < 5; ++i) {
      if (values[i] == MAXDWORD)
        std::snprintf(v[i], sizeof v[i], "MAXDWORD");
      else
        std::snprintf(v[i], sizeof v[i], "%lu", static_cast<unsigned long>(values[i]));
    }
    std::snprintf(settings, sizeof settings,
                  "timeouts read interval %s, read multiplier %s, read constant %s ms, write "
                  "multiplier %s, write constant %s ms",
                  v[0], v[1], v[2], v[3], v[4]);
  }
  Put("; settings ");
  Put(settings);
  Put(g_trace.level == TraceLevel::kPrivate ? "; redaction pin private" : "; redaction pin");
  EndLine();
}

}  // namespace

bool StartTrace(const WCHAR* path, TraceLevel level, const char* system) {
  StopTrace();
  // Owner only: the trace holds what the handset holds.
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, kOwnerOnlyFile, CREATE_NEW, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  g_trace.file = file;
  g_trace.level = level;
  g_trace.started = GetTickCount();
  g_trace.headed = false;
  std::snprintf(g_trace.system, sizeof g_trace.system, "%s", system ? system : "unknown");
  g_trace.out = {};
  g_trace.in = {};
  // Salt from what differs between runs; it only has to keep hashes of two
  // traces from being compared.
  FILETIME now = {};
  GetFileTime(file, &now, nullptr, &now);
  g_trace.salt = ((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) ^
                 (static_cast<std::uint64_t>(GetTickCount()) << 17) ^
                 reinterpret_cast<std::uintptr_t>(&now);
  g_tracing = true;
  return true;
}

void StopTrace() {
  if (g_trace.file == INVALID_HANDLE_VALUE) return;
  if (!g_trace.headed) {
    // Never connected: the first line still says who and where.
    g_trace.used = 0;
    Put("palvo-trace 1; palvo " PALVO_VERSION "; system ");
    Put(g_trace.system);
    Put("; port none; settings none; redaction pin");
    EndLine();
  }
  CloseHandle(g_trace.file);
  g_trace.file = INVALID_HANDLE_VALUE;
  g_tracing = false;
}

void TracePortOpened(HANDLE port, const WCHAR* name) {
  if (!g_tracing) return;
  g_trace.out = {};
  g_trace.in = {};
  if (!g_trace.headed) {
    WriteHeader(port, name);
    g_trace.headed = true;
    return;
  }
  StartLine("open ");
  PutWide(name);
  EndLine();
}

void TracePortClosed() {
  if (!g_tracing || !g_trace.headed) return;
  StartLine("close");
  EndLine();
}

void TraceChunk(char direction, const void* data, DWORD n) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (n > 0) {
    const DWORD piece = n < kLineChunk ? n : kLineChunk;
    ChunkLine(direction, p, piece);
    p += piece;
    n -= piece;
  }
}

void TraceFailure(char direction, DWORD error) {
  char text[64];
  std::snprintf(text, sizeof text, "! %s failed, error %lu", direction == '>' ? "write" : "read",
                static_cast<unsigned long>(error));
  StartLine(text);
  EndLine();
  SetLastError(error);
}

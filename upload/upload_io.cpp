#include "upload/upload_io.h"

#include "link/frontend.h"
#include "upload/line_reader.h"
#include "upload/upload.h"

namespace {
int g_checkedLine = 0;
bool g_refused = false;
}  // namespace

int CheckedLine() { return g_checkedLine; }

bool UploadRefused() { return g_refused; }

bool ReceiveAcceptance() {
  g_refused = false;
  if (ReceiveResponse(kWholeFrame) < 0) return false;
  g_refused = !ReplyAccepted();
  return !g_refused;
}

Message AtLine(Message m, int line) {
  g_checkedLine = m ? line : 0;
  return m;
}

Message AtCheckedLine(Message m) {
  g_checkedLine = m ? LineNumber() : 0;
  return m;
}

HANDLE OpenForUpload(const WCHAR* path) {
  g_checkedLine = 0;
  g_refused = false;
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool LocalFileSize(HANDLE file, DWORD* size, DWORD* high) {
  *high = 0;
  SetLastError(ERROR_SUCCESS);
  *size = GetFileSize(file, high);
  // All ones is also a size: only the error code tells a failure.
  return *size != INVALID_FILE_SIZE || GetLastError() == ERROR_SUCCESS;
}

bool ReplyAccepted() { return g_packet[12] == '0' && g_packet[13] == 0; }

void ExchangeUnchecked(Request request, const char* payload) {
  SendRequest(request, payload);
  ReceiveResponse(kWholeFrame);
}

BYTE* PutFieldHead(BYTE* dst, BYTE tag, BYTE type, DWORD length) {
  *dst++ = kFieldStart;
  *dst++ = tag;
  *dst++ = type;
  *dst++ = static_cast<BYTE>(length);
  *dst++ = static_cast<BYTE>(length >> 8);
  *dst++ = static_cast<BYTE>(length >> 16);
  *dst++ = static_cast<BYTE>(length >> 24);
  return dst;
}

bool StreamFileToPort(HANDLE file, DWORD size) {
  DWORD remaining = size;
  while (remaining > 0) {
    if (g_stopRequest) return false;  // asked to stop: at a piece boundary
    const DWORD want = remaining < kMaxPiece ? remaining : static_cast<DWORD>(kMaxPiece);
    DWORD got = 0;
    // A file that yields nothing before its size is reached has shrunk or
    // failed; waiting for more would never end.
    if (!ReadFile(file, g_packet, want, &got, nullptr) || got == 0 || got > want) return false;
    remaining -= got;
    if (!WritePortAll(g_packet, got)) return false;
    ShowProgress(size - remaining, size);
  }
  return true;
}

#include "download/transfer.h"

#include "download/field_record.h"
#include "link/frontend.h"
#include "link/messages.h"

HANDLE CreateDownloadFile(const WCHAR* path) {
  return CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

Message ReceiveIntoFile(const WCHAR* path, Message (*receive)(HANDLE file)) {
  HANDLE file = CreateDownloadFile(path);
  if (file == INVALID_HANDLE_VALUE) return MSG_CANNOT_WRITE;
  const Message result = receive(file);
  CloseHandle(file);
  return result;
}

bool WriteAll(HANDLE file, const void* data, DWORD n) {
  DWORD written = 0;
  return WriteFile(file, data, n, &written, nullptr) && written == n;
}

bool QueryCount(Request request, int* count) {
  SendRequest(request, "");
  if (ReceiveResponse(kWholeFrame) < 0) return false;
  *count = ReadDecimal(ResponsePayload());
  return true;
}

void SendNextItemAck() { SendRequest(kNextItem, "0"); }

StreamResult StreamFromPort(HANDLE file, std::uint64_t n) {
  const std::uint64_t total = n;
  bool writing = file != INVALID_HANDLE_VALUE;
  bool writeFailed = false;
  while (n > 0) {
    const DWORD want = n < kMaxPiece ? static_cast<DWORD>(n) : static_cast<DWORD>(kMaxPiece);
    const long got = ReadPortSome(g_packet, want);
    if (got < 0) return StreamResult::kReadFailed;
    if (writing && !WriteAll(file, g_packet, static_cast<DWORD>(got))) {
      writing = false;
      writeFailed = true;
    }
    n -= static_cast<std::uint64_t>(got);
    ShowProgress(total - n, total);
  }
  return writeFailed ? StreamResult::kWriteFailed : StreamResult::kDone;
}

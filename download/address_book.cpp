// Address book download: the handset's vCards, back to back, as they come.
#include "download/download.h"
#include "download/transfer.h"
#include "link/messages.h"

static Message ReceiveAddresses(HANDLE file, bool* ranToEnd) {
  int count;
  if (!QueryCount(kAddressCount, &count)) return MSG_COMM_ADDRESS_COUNT;
  if (count > 0) SendRequest(kAddressTransfer, "");
  for (int i = 0; i < count; ++i) {
    const int total = ReceiveResponse(kWholeFrame);
    if (total < 0 || !ResponseIs(kAddressTransfer)) return MSG_COMM_ADDRESS;
    SendNextItemAck();
    const int end = total < kMaxFrame ? total : kMaxFrame;
    const bool written =
        WriteAll(file, g_packet + kHeaderBytes, static_cast<DWORD>(end - kHeaderBytes));
    // An entry longer than the packet buffer goes on from the port.
    const StreamResult rest =
        StreamFromPort(written ? file : INVALID_HANDLE_VALUE, static_cast<DWORD>(total - end));
    if (rest == StreamResult::kReadFailed) return MSG_COMM_ADDRESS;
    if (!written || rest == StreamResult::kWriteFailed) return MSG_CANNOT_WRITE;
  }
  *ranToEnd = true;
  return nullptr;
}

Message DownloadAddressBook(const WCHAR* path) { return ReceiveIntoFile(path, ReceiveAddresses); }

// The address file into the handset's address book, one vCard per request,
// each line re-ended with CR LF.
#include <cstring>

#include "link/frame.h"
#include "link/messages.h"
#include "upload/line_reader.h"
#include "upload/upload.h"
#include "upload/upload_io.h"

namespace {

constexpr DWORD kMaxCard = 4096;  // CR LF counted per line

// A line's content ends at its first CR, LF or zero byte.
DWORD ContentLength(const char* line) {
  DWORD n = 0;
  while (line[n] != '\r' && line[n] != '\n' && line[n] != 0) ++n;
  return n;
}

bool Is(const char* line, DWORD n, const char* text) {
  return n == std::strlen(text) && std::memcmp(line, text, n) == 0;
}

// Counts the vCards in *cards.
Message ValidateLines(HANDLE file, int* cards) {
  DWORD card = 0;  // 0: outside a vCard
  *cards = 0;
  ReadLine(nullptr);
  while (const char* line = ReadLine(file)) {
    const DWORD n = ContentLength(line);
    if (card == 0) {
      if (n == 0) continue;
      if (!Is(line, n, "BEGIN:VCARD")) return MSG_CHECK_FORMAT;
    }
    card += n + 2;
    if (card > kMaxCard) return MSG_CHECK_FORMAT;
    if (Is(line, n, "END:VCARD")) {
      card = 0;
      ++*cards;
    }
  }
  return card == 0 ? nullptr : MSG_CHECK_FORMAT;
}

// A file that ends inside a vCard fails at its last line.
Message Validate(HANDLE file, int* cards) { return AtCheckedLine(ValidateLines(file, cards)); }

// The send pass; true when the handset accepted every vCard.
bool SendCards(HANDLE file) {
  DWORD card = 0;
  ReadLine(nullptr);
  while (const char* line = ReadLine(file)) {
    const DWORD n = ContentLength(line);
    if (card == 0 && n == 0) continue;
    if (card + n + 2 > kMaxCard) return false;  // the file changed under us
    std::memcpy(g_packet + card, line, n);
    g_packet[card + n] = '\r';
    g_packet[card + n + 1] = '\n';
    card += n + 2;
    if (Is(line, n, "END:VCARD")) {
      SendHeader(kAddressRecord, card);
      if (!WritePortAll(g_packet, card)) return false;
      if (!ReceiveAcceptance()) return false;
      card = 0;
    }
  }
  return true;
}

}  // namespace

Message CheckAddressFile(const WCHAR* path, int* entries) {
  HANDLE file = OpenForUpload(path);
  if (file == INVALID_HANDLE_VALUE) return MSG_FILE_OPEN_ERROR;
  const Message m = Validate(file, entries);
  CloseHandle(file);
  return m;
}

Message UploadAddressBook(const WCHAR* path) {
  HANDLE file = OpenForUpload(path);
  if (file == INVALID_HANDLE_VALUE) return MSG_FILE_OPEN_ERROR;
  int cards = 0;
  if (Message m = Validate(file, &cards)) {
    CloseHandle(file);
    return m;
  }
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);

  // The start clears the handset's address book: from here a stop waits for the end.
  g_stopHeld = kHoldAddressBook;
  ExchangeUnchecked(kAddressStart, "10");
  ExchangeUnchecked(kAddressPrepare, "");
  const bool sent = SendCards(file);
  CloseHandle(file);
  ExchangeUnchecked(kAddressEnd, "");
  g_stopHeld = 0;
  return sent ? nullptr : MSG_ADDRESS_INCOMPLETE;
}

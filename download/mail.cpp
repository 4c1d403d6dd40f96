// Mail download: every light mail, then every mail, each into a numbered mail
// file (mail000.txt, ...) in the destination folder. Earlier mail files there
// go first, so the folder never mixes two downloads.
#include <cstring>
#include <cwchar>

#include "download/download.h"
#include "download/field_record.h"
#include "download/transfer.h"
#include "link/messages.h"

constexpr std::size_t kMailNameUnits = 11;  // "mail000.txt"

// Where the mail file names are written: after the folder part of the path.
struct MailFolder {
  WCHAR* path;
  WCHAR* name;
  std::size_t room;  // units a name may take, terminator not counted
};

// "mail", three digits, ".txt", letters in any case: what an earlier download
// wrote (mail1000.txt and mailbox.txt are left alone).
static bool IsOldMailName(const WCHAR* name) {
  if (_wcsnicmp(name, L"mail", 4) != 0) return false;
  for (int i = 4; i < 7; ++i) {
    if (name[i] < L'0' || name[i] > L'9') return false;
  }
  return _wcsicmp(name + 7, L".txt") == 0;
}

static void DeleteOldMailFiles(const MailFolder& folder) {
  std::wcscpy(folder.name, L"mail*.txt");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(folder.path, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (IsOldMailName(found.cFileName)) {
      std::wcscpy(folder.name, found.cFileName);
      DeleteFileW(folder.path);  // a file that will not go is simply overwritten or left
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
}

// "mail%03d.txt" for the running number; false when the name would not fit.
static bool PlaceMailName(const MailFolder& folder, int number) {
  WCHAR digits[12];
  int n = 0;
  unsigned value = static_cast<unsigned>(number);
  do {
    digits[n++] = static_cast<WCHAR>(L'0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n < 3) digits[n++] = L'0';
  if (static_cast<std::size_t>(n) + 8 > folder.room) return false;
  WCHAR* p = folder.name;
  std::wmemcpy(p, L"mail", 4);
  p += 4;
  while (n > 0) *p++ = digits[--n];
  std::wmemcpy(p, L".txt", 5);
  return true;
}

static HANDLE CreateMailFile(const MailFolder& folder, int number) {
  if (!PlaceMailName(folder, number)) return INVALID_HANDLE_VALUE;
  return CreateDownloadFile(folder.path);
}

// Writes key, the four header values separated by commas, and the line end, in
// one write. The values lie in the packet buffer, so the line fits here whole.
static bool WriteHeaderLine(HANDLE file, const char* key, const char* const values[4],
                            const char* lineEnd) {
  char line[kBufferBytes + 64];
  std::size_t n = std::strlen(key);
  std::memcpy(line, key, n);
  for (int i = 0; i < 4; ++i) {
    if (i > 0) line[n++] = ',';
    const std::size_t length = std::strlen(values[i]);
    std::memcpy(line + n, values[i], length);
    n += length;
  }
  const std::size_t endLength = std::strlen(lineEnd);
  std::memcpy(line + n, lineEnd, endLength);
  n += endLength;
  return WriteAll(file, line, static_cast<DWORD>(n));
}

// Tags 1 to 4 of the record in the packet buffer, in that order.
static bool DecodeHeaderValues(int* pos, int end, const char* values[4]) {
  bool bad = false;
  for (int tag = 1; tag <= 4; ++tag) {
    values[tag - 1] = DecodeField(pos, end, static_cast<BYTE>(tag), &bad);
    if (!values[tag - 1] || bad) return false;
  }
  return true;
}

// What became of one item.
enum class Saved { kWritten, kSkipped, kReadFailed, kWriteFailed };

static Saved FinishFile(HANDLE file, bool written, StreamResult rest) {
  CloseHandle(file);
  if (rest == StreamResult::kReadFailed) return Saved::kReadFailed;
  if (!written || rest == StreamResult::kWriteFailed) return Saved::kWriteFailed;
  return Saved::kWritten;
}

// A light mail: header line and empty line, two one-line values, the body. Its
// body may run past the packet buffer; then the rest comes from the port.
static Saved SaveLightMail(const MailFolder& folder, int number, int total) {
  const int end = total < kMaxFrame ? total : kMaxFrame;
  const std::uint64_t onPort = static_cast<std::uint64_t>(total - end);

  int pos = kFirstField;
  const char* values[4];
  DWORD firstLength = 0, secondLength = 0, bodyLength = 0;
  const char* first = nullptr;
  const char* second = nullptr;
  bool complete = DecodeHeaderValues(&pos, end, values);
  if (complete) first = TakeField(&pos, end, &firstLength);
  if (first) second = TakeField(&pos, end, &secondLength);
  if (second)
    complete = FieldLength(pos, end, &bodyLength);
  else
    complete = false;
  const int bodyStart = pos + kFieldHeaderBytes;
  const std::uint64_t bodyEnd = static_cast<std::uint64_t>(bodyStart) + bodyLength;
  // Only a body may run past the packet buffer, and never past the frame.
  if (complete && bodyEnd > static_cast<std::uint64_t>(total)) complete = false;
  if (complete && onPort > 0 && bodyEnd <= static_cast<std::uint64_t>(end)) complete = false;

  HANDLE file = complete ? CreateMailFile(folder, number) : INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) {
    if (StreamFromPort(INVALID_HANDLE_VALUE, onPort) == StreamResult::kReadFailed)
      return Saved::kReadFailed;
    return Saved::kSkipped;
  }
  const std::uint64_t inBuffer = bodyEnd < static_cast<std::uint64_t>(end)
                                     ? bodyLength
                                     : static_cast<std::uint64_t>(end - bodyStart);
  const bool written = WriteHeaderLine(file, "X-PORIKA-LIGHT: ", values, "\r\n\r\n") &&
                       WriteAll(file, first, firstLength) && WriteAll(file, "\r\n", 2) &&
                       WriteAll(file, second, secondLength) && WriteAll(file, "\r\n", 2) &&
                       WriteAll(file, g_packet + bodyStart, static_cast<DWORD>(inBuffer));
  const std::uint64_t bodyOnPort = bodyLength - inBuffer;
  StreamResult rest = StreamFromPort(written ? file : INVALID_HANDLE_VALUE, bodyOnPort);
  // Bytes of the frame after the body are not the mail's.
  if (rest != StreamResult::kReadFailed &&
      StreamFromPort(INVALID_HANDLE_VALUE, onPort - bodyOnPort) == StreamResult::kReadFailed)
    rest = StreamResult::kReadFailed;
  return FinishFile(file, written, rest);
}

// A mail: header line, then the body, which runs to the end of the frame
// whatever its field's length says, the part past the packet buffer included.
static Saved SaveMail(const MailFolder& folder, int number, int total) {
  const int end = total < kMaxFrame ? total : kMaxFrame;
  const std::uint64_t onPort = static_cast<std::uint64_t>(total - end);

  int pos = kFirstField;
  const char* values[4];
  const bool complete = DecodeHeaderValues(&pos, end, values);
  // Tags 1 to 4 make a mail; a record that stops after them has an empty body.
  const int bodyStart = pos + kFieldHeaderBytes < total ? pos + kFieldHeaderBytes : total;

  HANDLE file = complete ? CreateMailFile(folder, number) : INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) {
    if (StreamFromPort(INVALID_HANDLE_VALUE, onPort) == StreamResult::kReadFailed)
      return Saved::kReadFailed;
    return Saved::kSkipped;
  }
  const int inBuffer = bodyStart < end ? end - bodyStart : 0;
  const bool written = WriteHeaderLine(file, "X-PORIKA-MAIL: ", values, "\r\n") &&
                       WriteAll(file, g_packet + bodyStart, static_cast<DWORD>(inBuffer));
  // A body field whose header straddles the buffer's end starts on the port.
  const std::uint64_t beforeBody =
      bodyStart > end ? static_cast<std::uint64_t>(bodyStart - end) : 0;
  StreamResult rest = StreamFromPort(INVALID_HANDLE_VALUE, beforeBody);
  if (rest != StreamResult::kReadFailed)
    rest = StreamFromPort(written ? file : INVALID_HANDLE_VALUE, onPort - beforeBody);
  return FinishFile(file, written, rest);
}

Message DownloadMail(WCHAR* path) {
  WCHAR* slash = std::wcsrchr(path, L'\\');
  if (!slash) return MSG_CANNOT_WRITE;
  MailFolder folder = {path, slash + 1, 0};
  const std::size_t used = static_cast<std::size_t>(folder.name - path);
  if (used + kMailNameUnits > kPathUnits - 1) return MSG_CANNOT_WRITE;
  folder.room = kPathUnits - 1 - used;

  DeleteOldMailFiles(folder);

  int number = 0;
  int skipped = 0;
  int count;
  if (!QueryCount(kLightMailCount, &count)) return MSG_COMM_LIGHT_MAIL_COUNT;
  if (count > 0) SendRequest(kLightMailTransfer, "");
  for (int i = 0; i < count; ++i, ++number) {
    const int total = ReceiveResponse(kWholeFrame);
    if (total < 0 || !ResponseIs(kLightMailTransfer)) return MSG_COMM_LIGHT_MAIL;
    SendNextItemAck();
    switch (SaveLightMail(folder, number, total)) {
      case Saved::kReadFailed:
        return MSG_COMM_CONTENT;
      case Saved::kWriteFailed:
        return MSG_CANNOT_WRITE;
      case Saved::kSkipped:
        ++skipped;
        break;
      case Saved::kWritten:
        break;
    }
  }

  if (!QueryCount(kMailCount, &count)) return MSG_COMM_MAIL_COUNT;
  if (count > 0) SendRequest(kMailTransfer, "");
  for (int i = 0; i < count; ++i, ++number) {
    const int total = ReceiveResponse(kWholeFrame);
    if (total < 0 || !ResponseIs(kMailTransfer)) return MSG_COMM_MAIL;
    const Saved saved = SaveMail(folder, number, total);
    if (saved == Saved::kReadFailed) return MSG_COMM_CONTENT;
    if (saved == Saved::kWriteFailed) return MSG_CANNOT_WRITE;
    if (saved == Saved::kSkipped) ++skipped;
    // Only now: the whole frame is off the port.
    SendNextItemAck();
  }
  return skipped ? MSG_BAD_DATA : nullptr;
}

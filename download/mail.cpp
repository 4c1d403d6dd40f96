// Mail download: every light mail, then every mail, each into a numbered mail
// file (mail000.txt, ...) in the destination folder. The set is replaced as a
// whole: the new files are written under part names (.palvo-mail000.txt.part)
// and only once the transfer ran to its end do the earlier mail files go (to
// the folder's attic, download/attic.h) and the new ones take their names, so
// the folder never mixes two downloads, loses no earlier mail, and a failed
// one leaves the earlier set exactly as it was.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "download/attic.h"
#include "download/download.h"
#include "download/field_record.h"
#include "download/transfer.h"
#include "link/messages.h"
#include "platform/backup_names.h"

constexpr std::size_t kMailNameUnits = 11;      // "mail000.txt"
constexpr std::size_t kPartExtraUnits = 7 + 5;  // the two above around a mail name

// Where the mail file names are written: after the folder part of the path,
// and the part names after the same folder in a buffer of their own.
struct MailFolder {
  WCHAR* path;
  WCHAR* name;
  std::size_t room;  // units a name may take, terminator not counted
  WCHAR part[kPathUnits];
  WCHAR* partName;  // after ".palvo-"
};

// "mail", three digits, ".txt", letters in any case: what an earlier download
// wrote in a folder without a manifest (mail1000.txt and mailbox.txt are left
// alone there); in a backup folder also every mail<digits>.txt its manifest
// records (g_isRecordedMail).
bool (*g_isRecordedMail)(const WCHAR* name) = nullptr;

static bool IsOldMailName(const WCHAR* name) {
  if (_wcsnicmp(name, L"mail", 4) != 0) return false;
  std::size_t digits = 0;
  while (name[4 + digits] >= L'0' && name[4 + digits] <= L'9') ++digits;
  if (digits == 0 || _wcsicmp(name + 4 + digits, L".txt") != 0) return false;
  return digits == 3 || (g_isRecordedMail && g_isRecordedMail(name));
}

// Which numbers the download just put in place, by the name it gave them.
static std::vector<char> g_placed;

// An earlier download's file that no new one replaced: any letter case or
// number of digits but the very name a new file has.
static bool IsStaleMailName(const WCHAR* name) {
  if (!IsOldMailName(name)) return false;
  long n = 0;
  for (const WCHAR* p = name + 4; *p >= L'0' && *p <= L'9'; ++p) {
    n = n * 10 + (*p - L'0');
    if (n > 100000000) return true;
  }
  WCHAR own[24];
  std::swprintf(own, 24, L"mail%03ld.txt", n);
  return !(static_cast<std::size_t>(n) < g_placed.size() && g_placed[static_cast<std::size_t>(n)] &&
           std::wcscmp(name, own) == 0);
}

// Deletes every file of the folder that the pattern finds and test accepts;
// with toAttic each goes to the attic instead. False when one could not go.
static bool DeleteMatching(const MailFolder& folder, const WCHAR* pattern,
                           bool (*test)(const WCHAR* name), bool toAttic = false) {
  std::wcscpy(folder.name, pattern);
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(folder.path, &found);
  if (find == INVALID_HANDLE_VALUE) return true;
  bool all = true;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && test(found.cFileName)) {
      std::wcscpy(folder.name, found.cFileName);
      if (toAttic) {
        all = KeepEarlierFile(folder.path, nullptr) && all;
      } else {
        DeleteFileW(folder.path);  // a file that will not go is simply overwritten or left
      }
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return all;
}

// The part files of an earlier download that did not finish.
static bool IsMailPart(const WCHAR* name) {
  return _wcsnicmp(name, L".palvo-mail", 11) == 0 && IsPartName(name);
}

// "mail%03d.txt" for the running number at dst; false when more than room.
static bool FormatMailName(WCHAR* dst, std::size_t room, int number) {
  WCHAR digits[12];
  int n = 0;
  unsigned value = static_cast<unsigned>(number);
  do {
    digits[n++] = static_cast<WCHAR>(L'0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (n < 3) digits[n++] = L'0';
  if (static_cast<std::size_t>(n) + 8 > room) return false;
  std::wmemcpy(dst, L"mail", 4);
  dst += 4;
  while (n > 0) *dst++ = digits[--n];
  std::wmemcpy(dst, L".txt", 5);
  return true;
}

// The final name of the running number in path; false when it would not fit.
static bool PlaceMailName(const MailFolder& folder, int number) {
  return FormatMailName(folder.name, folder.room, number);
}

// The part name of the running number in folder.part.
static bool PlacePartName(MailFolder& folder, int number) {
  if (!FormatMailName(folder.partName, folder.room - kPartExtraUnits, number)) return false;
  std::wcscat(folder.partName, kPartSuffix);
  return true;
}

static HANDLE CreateMailFile(MailFolder& folder, int number) {
  if (!PlacePartName(folder, number)) return INVALID_HANDLE_VALUE;
  return CreateDownloadFile(folder.part);
}

// A mail file whose head (and body, where it lies in the packet buffer) is
// gathered here and goes to the file in one write.
struct MailText {
  char bytes[kBufferBytes + 64];
  std::size_t n;
  void Add(const void* data, std::size_t length) {
    std::memcpy(bytes + n, data, length);
    n += length;
  }
};

// Key, the four header values separated by commas, and the line end. The
// values lie in the packet buffer, so the line fits whole.
static void AddHeaderLine(MailText* text, const char* key, const char* const values[4],
                          const char* lineEnd) {
  text->Add(key, std::strlen(key));
  for (int i = 0; i < 4; ++i) {
    if (i > 0) text->Add(",", 1);
    text->Add(values[i], std::strlen(values[i]));
  }
  text->Add(lineEnd, std::strlen(lineEnd));
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
static Saved SaveLightMail(MailFolder& folder, int number, int total) {
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
  static MailText text;
  text.n = 0;
  AddHeaderLine(&text, "X-PORIKA-LIGHT: ", values, "\r\n\r\n");
  text.Add(first, firstLength);
  text.Add("\r\n", 2);
  text.Add(second, secondLength);
  text.Add("\r\n", 2);
  text.Add(g_packet + bodyStart, static_cast<std::size_t>(inBuffer));
  const bool written = WriteAll(file, text.bytes, static_cast<DWORD>(text.n));
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
// A frame that lay whole in the packet buffer is off the port already: its
// acknowledgement goes out (*acked) before the file is written, so the
// handset sends the next mail meanwhile.
static Saved SaveMail(MailFolder& folder, int number, int total, bool* acked) {
  const int end = total < kMaxFrame ? total : kMaxFrame;
  const std::uint64_t onPort = static_cast<std::uint64_t>(total - end);

  int pos = kFirstField;
  const char* values[4];
  const bool complete = DecodeHeaderValues(&pos, end, values);
  // Tags 1 to 4 make a mail; a record that stops after them has an empty body.
  const int bodyStart = pos + kFieldHeaderBytes < total ? pos + kFieldHeaderBytes : total;

  static MailText text;
  text.n = 0;
  if (complete) {
    const int inBuffer = bodyStart < end ? end - bodyStart : 0;
    AddHeaderLine(&text, "X-PORIKA-MAIL: ", values, "\r\n");
    text.Add(g_packet + bodyStart, static_cast<std::size_t>(inBuffer));
  }
  *acked = onPort == 0;
  if (*acked) SendNextItemAck();

  HANDLE file = complete ? CreateMailFile(folder, number) : INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE) {
    if (StreamFromPort(INVALID_HANDLE_VALUE, onPort) == StreamResult::kReadFailed)
      return Saved::kReadFailed;
    return Saved::kSkipped;
  }
  const bool written = WriteAll(file, text.bytes, static_cast<DWORD>(text.n));
  // A body field whose header straddles the buffer's end starts on the port.
  const std::uint64_t beforeBody =
      bodyStart > end ? static_cast<std::uint64_t>(bodyStart - end) : 0;
  StreamResult rest = StreamFromPort(INVALID_HANDLE_VALUE, beforeBody);
  if (rest != StreamResult::kReadFailed)
    rest = StreamFromPort(written ? file : INVALID_HANDLE_VALUE, onPort - beforeBody);
  return FinishFile(file, written, rest);
}

// The items of both phases into part files; the running number ends past the
// last item received. A message only when the transfer did not run to its end.
static Message ReceiveMails(MailFolder& folder, int* number, int* skippedItems) {
  int& skipped = *skippedItems;
  int count;
  if (!QueryCount(kLightMailCount, &count)) return MSG_COMM_LIGHT_MAIL_COUNT;
  if (count > 0) SendRequest(kLightMailTransfer, "");
  for (int i = 0; i < count; ++i, ++*number) {
    const int total = ReceiveResponse(kWholeFrame);
    if (total < 0 || !ResponseIs(kLightMailTransfer)) return MSG_COMM_LIGHT_MAIL;
    SendNextItemAck();
    switch (SaveLightMail(folder, *number, total)) {
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
  for (int i = 0; i < count; ++i, ++*number) {
    const int total = ReceiveResponse(kWholeFrame);
    if (total < 0 || !ResponseIs(kMailTransfer)) return MSG_COMM_MAIL;
    bool acked = false;
    const Saved saved = SaveMail(folder, *number, total, &acked);
    if (saved == Saved::kReadFailed) return MSG_COMM_CONTENT;
    if (saved == Saved::kWriteFailed) return MSG_CANNOT_WRITE;
    if (saved == Saved::kSkipped) ++skipped;
    // Only now: the whole frame is off the port.
    if (!acked) SendNextItemAck();
  }
  return nullptr;
}

Message DownloadMail(WCHAR* path) {
  WCHAR* slash = std::wcsrchr(path, L'\\');
  if (!slash) return MSG_CANNOT_WRITE;
  MailFolder folder;
  folder.path = path;
  folder.name = slash + 1;
  const std::size_t used = static_cast<std::size_t>(folder.name - path);
  // Room for the part names too, which are a mail name and 12 units longer.
  if (used + kMailNameUnits + kPartExtraUnits > kPathUnits - 1) return MSG_CANNOT_WRITE;
  folder.room = kPathUnits - 1 - used;
  std::wmemcpy(folder.part, path, used);
  std::wmemcpy(folder.part + used, kPartPrefix, 7);
  folder.partName = folder.part + used + 7;

  g_placed.clear();
  // What an earlier download left half done goes; its set stays.
  DeleteMatching(folder, L".palvo-mail*.txt.part", IsMailPart);

  int number = 0, skipped = 0;
  const Message failed = ReceiveMails(folder, &number, &skipped);
  if (failed) {
    // Item number was in the works when the run ended.
    for (int n = 0; n <= number; ++n) {
      if (PlacePartName(folder, n)) DeleteFileW(folder.part);
    }
    PlaceMailName(folder, number);
    return failed;
  }

  // The transfer ran to its end (faulty items skipped are the handset's
  // mail as it is): each new file takes its name, replacing an earlier file
  // of that very name in one step, and then the earlier files that no new one
  // replaced go.
  // An earlier file with other bytes goes to the attic before it is replaced
  // or removed: a mail left out of this set (skipped, or gone from the
  // handset) is never lost.
  bool moved = true;
  g_placed.assign(static_cast<std::size_t>(number), 0);
  for (int n = 0; n < number; ++n) {
    if (!PlacePartName(folder, n) || !PlaceMailName(folder, n)) continue;
    if (GetFileAttributesW(folder.part) == INVALID_FILE_ATTRIBUTES) continue;  // skipped
    if (!KeepEarlierFile(path, folder.part)) {
      moved = false;
      DeleteFileW(folder.part);
      continue;
    }
    if (CommitPart(folder.part, path)) {
      g_placed[static_cast<std::size_t>(n)] = 1;
      continue;
    }
    moved = false;
    DeleteFileW(folder.part);
  }
  if (!DeleteMatching(folder, L"mail*.txt", IsStaleMailName, true)) moved = false;
  if (number > 0) PlaceMailName(folder, number - 1);
  if (!moved) return MSG_CANNOT_WRITE;
  return skipped ? MSG_BAD_DATA : nullptr;
}

int MailFileCount() { return static_cast<int>(g_placed.size()); }

bool MailFilePlaced(int n) {
  return n >= 0 && static_cast<std::size_t>(n) < g_placed.size() &&
         g_placed[static_cast<std::size_t>(n)] != 0;
}

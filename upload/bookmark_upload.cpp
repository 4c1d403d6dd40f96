// The bookmark file into the handset's bookmarks: every line checked first,
// then one field record per entry.
#include "link/frame.h"
#include "link/messages.h"
#include "upload/line_reader.h"
#include "upload/upload.h"
#include "upload/upload_io.h"

constexpr int kMaxEntries = 100;
constexpr int kNumberSlots = 100;  // memory numbers 00..99
constexpr int kMaxFolder = 19;
constexpr int kRecordOverhead = 1 + 4 * kFieldHeaderBytes + 2 + 2;  // all but title and URL

namespace {

struct Entry {
  int folder;
  int number;  // -1: none stated in the file
  const BYTE* title;
  DWORD titleLength;
  const BYTE* url;
  DWORD urlLength;
};

// Any byte below 32 ends a field; Shift-JIS bytes from 128 up are text.
inline bool IsControl(BYTE b) { return b < 32; }
inline bool IsDigit(BYTE b) { return b >= '0' && b <= '9'; }

// Digits from p as a number held at a ceiling, so that a long digit run reads
// as out of range rather than overflowing.
int ReadDigits(const BYTE*& p) {
  long long value = 0;
  while (IsDigit(*p)) {
    if (value <= 0x7FFFFFFF) value = value * 10 + (*p - '0');
    ++p;
  }
  return value > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(value);
}

const BYTE* SkipTabs(const BYTE* p) {
  while (*p == '\t') ++p;
  return p;
}

const BYTE* SkipText(const BYTE* p) {
  while (!IsControl(*p)) ++p;
  return p;
}

// After a run of TABs, a text up to the next control byte: its start and
// length, and p moved past it. False when p is at no TAB or no text follows.
bool TakeText(const BYTE*& p, const BYTE** text, DWORD* length) {
  if (*p != '\t') return false;
  p = SkipTabs(p);
  if (IsControl(*p)) return false;
  *text = p;
  p = SkipText(p);
  *length = static_cast<DWORD>(p - *text);
  return true;
}

const Message kSkipLine = L"";  // blank or comment: not an entry

// Reads one line by the file's rules, checking in the order the user is told
// about. The used-number table and the entry count are the caller's.
Message ParseEntry(const char* line, Entry* e) {
  const BYTE* p = reinterpret_cast<const BYTE*>(line);
  while (*p == ' ' || *p == '\t') ++p;
  if (IsControl(*p) || *p == ';') return kSkipLine;
  if (!IsDigit(*p)) return MSG_CHECK_FORMAT;
  e->folder = ReadDigits(p);
  if (e->folder > kMaxFolder) return MSG_CHECK_FOLDER_RANGE;
  const BYTE *first = nullptr, *second = nullptr;
  DWORD firstLength = 0, secondLength = 0;
  if (!TakeText(p, &first, &firstLength) || !TakeText(p, &second, &secondLength))
    return MSG_CHECK_FORMAT;
  if (*p == '\t') p = SkipTabs(p);

  if (IsControl(*p)) {  // two text fields: title and URL, no number
    e->number = -1;
    e->title = first;
    e->titleLength = firstLength;
    e->url = second;
    e->urlLength = secondLength;
  } else {  // three: the first is the memory number
    const BYTE* digits = first;
    const int number = ReadDigits(digits);
    if (digits != first + firstLength || digits == first) return MSG_CHECK_FORMAT;
    if (number >= kNumberSlots) return MSG_CHECK_NUMBER_RANGE;
    e->number = number;
    e->title = second;
    e->titleLength = secondLength;
    e->url = p;
    e->urlLength = static_cast<DWORD>(SkipText(p) - p);
  }
  // The record is built whole in the packet buffer.
  if (kRecordOverhead + e->titleLength + e->urlLength > static_cast<DWORD>(kBufferBytes))
    return MSG_CHECK_FORMAT;
  return nullptr;
}

DWORD BuildRecord(const Entry& e) {
  const char number[2] = {static_cast<char>('0' + e.number / 10),
                          static_cast<char>('0' + e.number % 10)};
  const char folder[2] = {static_cast<char>('0' + e.folder / 10),
                          static_cast<char>('0' + e.folder % 10)};
  BYTE* p = g_packet;
  *p++ = kRecordStart;
  p = EncodeField(p, 1, 2, e.title, e.titleLength);
  p = EncodeField(p, 2, 1, e.url, e.urlLength);
  p = EncodeField(p, 3, 1, number, 2);
  p = EncodeField(p, 4, 2, folder, 2);
  return static_cast<DWORD>(p - g_packet);
}

// Every line must pass before anything is sent. Marks the stated numbers
// and counts the entries.
Message ValidateLines(HANDLE file, bool* used, int* entries) {
  *entries = 0;
  ReadLine(nullptr);
  while (const char* line = ReadLine(file)) {
    Entry e;
    const Message m = ParseEntry(line, &e);
    if (m == kSkipLine) continue;
    if (m) return m;
    if (e.number >= 0) {
      if (used[e.number]) return MSG_CHECK_NUMBER_DUPLICATE;
      used[e.number] = true;
    }
    if (++*entries > kMaxEntries) return MSG_CHECK_TOO_MANY;
  }
  return nullptr;
}

Message Validate(HANDLE file, bool* used, int* entries) {
  return AtCheckedLine(ValidateLines(file, used, entries));
}

// The send pass; true when the handset accepted every record.
bool SendEntries(HANDLE file, const bool* used) {
  int cursor = 0;  // numbers below it were given out or passed over
  ReadLine(nullptr);
  while (const char* line = ReadLine(file)) {
    Entry e;
    const Message m = ParseEntry(line, &e);
    if (m == kSkipLine) continue;
    if (m) return false;  // the file changed under us
    if (e.number < 0) {
      while (cursor < kNumberSlots && used[cursor]) ++cursor;
      if (cursor >= kNumberSlots) return false;
      e.number = cursor++;
    }
    const DWORD length = BuildRecord(e);
    SendHeader(kBookmarkRecord, length);
    if (!WritePortAll(g_packet, length)) return false;
    if (!ReceiveAcceptance()) return false;
  }
  return true;
}

}  // namespace

Message CheckBookmarkFile(const WCHAR* path, int* entries) {
  HANDLE file = OpenForUpload(path);
  if (file == INVALID_HANDLE_VALUE) return MSG_FILE_OPEN_ERROR;
  bool used[kNumberSlots] = {};
  const Message m = Validate(file, used, entries);
  CloseHandle(file);
  return m;
}

Message UploadBookmarks(const WCHAR* path) {
  HANDLE file = OpenForUpload(path);
  if (file == INVALID_HANDLE_VALUE) return MSG_FILE_OPEN_ERROR;
  bool used[kNumberSlots] = {};
  int entries = 0;
  if (Message m = Validate(file, used, &entries)) {
    CloseHandle(file);
    return m;
  }
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);

  // The start clears the handset's bookmarks: from here a stop waits for the end.
  g_stopHeld = kHoldBookmarks;
  ExchangeUnchecked(kBookmarkStart, "13");
  ExchangeUnchecked(kBookmarkPrepare, "");
  const bool sent = SendEntries(file, used);
  CloseHandle(file);
  ExchangeUnchecked(kBookmarkEnd, "");
  g_stopHeld = 0;
  return sent ? nullptr : MSG_BOOKMARKS_INCOMPLETE;
}

// Bookmark download: one tab-separated line per bookmark after a comment line.
#include <cstdio>
#include <cstring>

#include "download/download.h"
#include "download/field_record.h"
#include "download/transfer.h"
#include "link/messages.h"

// ";フォルダ,(メモリ番号),タイトル,URL のタブ区切り" CR LF, in Shift-JIS.
static const BYTE kBookmarkComment[50] = {
    0x3B, 0x83, 0x74, 0x83, 0x48, 0x83, 0x8B, 0x83, 0x5F, 0x2C, 0x28, 0x83, 0x81,
    0x83, 0x82, 0x83, 0x8A, 0x94, 0xD4, 0x8D, 0x86, 0x29, 0x2C, 0x83, 0x5E, 0x83,
    0x43, 0x83, 0x67, 0x83, 0x8B, 0x2C, 0x55, 0x52, 0x4C, 0x20, 0x82, 0xCC, 0x83,
    0x5E, 0x83, 0x75, 0x8B, 0xE6, 0x90, 0xD8, 0x82, 0xE8, 0x0D, 0x0A};

enum class Item { kAccepted, kSkipped, kWriteFailed };

// Decodes the bookmark in the packet buffer (frame bytes before end) and
// writes its line.
static Item WriteBookmark(HANDLE file, int end) {
  int pos = kFirstField;
  bool bad = false;
  const char* title = DecodeField(&pos, end, 1, &bad);
  const char* url = DecodeField(&pos, end, 2, &bad);
  const char* memory = DecodeField(&pos, end, 3, &bad);
  const char* folder = DecodeField(&pos, end, 4, &bad);
  const int memoryNumber = memory ? ReadDecimal(memory) : -1;
  const int folderNumber = folder ? ReadDecimal(folder) : -1;
  if (bad || !title || !url || memoryNumber < 0 || folderNumber < 0) return Item::kSkipped;

  // Title and URL both lie in the packet buffer, so the line fits here whole.
  char line[kBufferBytes + 32];
  int n = std::snprintf(line, 32, "%02d\t%02d\t", folderNumber, memoryNumber);
  const std::size_t titleLength = std::strlen(title);
  std::memcpy(line + n, title, titleLength);
  n += static_cast<int>(titleLength);
  line[n++] = '\t';
  const std::size_t urlLength = std::strlen(url);
  std::memcpy(line + n, url, urlLength);
  n += static_cast<int>(urlLength);
  line[n++] = '\r';
  line[n++] = '\n';
  return WriteAll(file, line, static_cast<DWORD>(n)) ? Item::kAccepted : Item::kWriteFailed;
}

static Message ReceiveBookmarks(HANDLE file, bool* ranToEnd) {
  if (!WriteAll(file, kBookmarkComment, sizeof kBookmarkComment)) return MSG_CANNOT_WRITE;
  int count;
  if (!QueryCount(kBookmarkCount, &count)) return MSG_COMM_BOOKMARK_COUNT;
  if (count > 0) SendRequest(kBookmarkTransfer, "");
  int skipped = 0;
  for (int i = 0; i < count; ++i) {
    const int total = ReceiveResponse(kWholeFrame);
    if (total < 0 || !ResponseIs(kBookmarkTransfer)) return MSG_COMM_BOOKMARK;
    SendNextItemAck();
    const int end = total < kMaxFrame ? total : kMaxFrame;
    const Item item = WriteBookmark(file, end);
    // An item longer than the packet buffer: its rest is read off the port
    // and dropped, so the next item is found where it starts.
    if (total > end && StreamFromPort(INVALID_HANDLE_VALUE, static_cast<DWORD>(total - end)) ==
                           StreamResult::kReadFailed)
      return MSG_COMM_BOOKMARK;
    if (item == Item::kWriteFailed) return MSG_CANNOT_WRITE;
    if (item == Item::kSkipped) ++skipped;
  }
  *ranToEnd = true;
  return skipped ? MSG_BAD_BOOKMARK : nullptr;
}

Message DownloadBookmarks(const WCHAR* path) { return ReceiveIntoFile(path, ReceiveBookmarks); }

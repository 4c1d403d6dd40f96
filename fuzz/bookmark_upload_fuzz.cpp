// The bookmark upload over any local file: every line checked, then one record
// per entry. What reaches the handset must be well-formed records with memory
// numbers 00..99 given out once each.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/upload_script.h"
#include "upload/upload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  if (size < 1) return 0;
  // Byte 0: how many replies the handset accepts (start, prepare, records).
  const int accepted = data[0];
  SetMemFile(L"bookmark.txt", data + 1, size - 1);
  const std::wstring path = MemPath() + L"bookmark.txt";
  const std::string replies = UploadReplies(kBookmarkRecord, accepted);
  OpenPort(replies);
  const Message m = UploadBookmarks(path.c_str());
  const std::string& sent = ClosePort();
  // The upload closed its file, whatever happened.
  ClearMemFiles();
  std::vector<SentFrame> frames;
  FUZZ_CHECK(ParseSent(sent, &frames));
  if (m) return 0;
  // start, prepare, the records, end
  FUZZ_CHECK(frames.size() >= 3 && frames.size() <= 3 + 100);
  bool used[100] = {};
  for (std::size_t i = 2; i + 1 < frames.size(); ++i) {
    const SentFrame& f = frames[i];
    FUZZ_CHECK(f.code == kBookmarkRecord.code && f.selector == kBookmarkRecord.selector);
    const auto* r = reinterpret_cast<const std::uint8_t*>(f.payload.data());
    int fields = 0;
    FUZZ_CHECK(RecordTiles(r, f.payload.size(), &fields) && fields == 4);
    // The last two fields: memory number and folder, two digits each.
    const std::size_t n = f.payload.size();
    FUZZ_CHECK(n >= 18);
    const char* folder = f.payload.data() + n - 2;
    const char* number = f.payload.data() + n - 2 - 7 - 2;
    FUZZ_CHECK(number[0] >= '0' && number[0] <= '9' && number[1] >= '0' && number[1] <= '9');
    FUZZ_CHECK(folder[0] >= '0' && folder[0] <= '1' && folder[1] >= '0' && folder[1] <= '9');
    const int slot = (number[0] - '0') * 10 + number[1] - '0';
    FUZZ_CHECK(!used[slot]);
    used[slot] = true;
  }
  return 0;
}

// The bookmark download on whatever the handset sends: the count, then field
// records of title, URL, memory number and folder with any lengths and tags.
#include <string>

#include "download/download.h"
#include "fuzz/harness.h"
#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  const std::wstring path = MemPath() + L"bookmark.txt";
  OpenPort(data, size);
  const Message m = DownloadBookmarks(path.c_str());
  ClosePort();
  const std::string* written = MemFile(L"bookmark.txt");
  const std::string file = written ? *written : std::string();
  ClearMemFiles();
  if (m) return 0;
  // Reported whole: every announced item arrived and became a line.
  FrameModel model(data, size);
  const int total = model.Receive(kWholeFrame);
  FUZZ_CHECK(total >= kHeaderBytes);
  const int count = model.PayloadNumber(total);
  for (int i = 0; i < count; ++i) {
    const int item = model.Receive(kWholeFrame);
    FUZZ_CHECK(item >= kHeaderBytes);
    FUZZ_CHECK(
        model.Skip(static_cast<std::uint64_t>(item - (item < kMaxFrame ? item : kMaxFrame))));
  }
  std::size_t lines = 0;
  for (std::size_t p = file.find("\r\n"); p != std::string::npos; p = file.find("\r\n", p + 2))
    ++lines;
  FUZZ_CHECK(lines >= 1 + static_cast<std::size_t>(count > 0 ? count : 0));
  FUZZ_CHECK(file.size() >= 2 && file.compare(file.size() - 2, 2, "\r\n") == 0);
  return 0;
}

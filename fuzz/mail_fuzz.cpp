// The mail download on whatever the handset sends: light mail and mail
// records (header values, one-line values, a body that may run past the
// packet buffer or lie about its length), into numbered files.
#include <cstring>
#include <string>

#include "download/download.h"
#include "fuzz/harness.h"
#include "link/frame.h"

namespace {

// Items of one kind as the receiver meets them; false when one is missing.
bool SkipItems(FrameModel* model, int* count) {
  const int total = model->Receive(kWholeFrame);
  if (total < kHeaderBytes) return false;
  *count = model->PayloadNumber(total);
  for (int i = 0; i < *count; ++i) {
    const int item = model->Receive(kWholeFrame);
    if (item < kHeaderBytes) return false;
    if (!model->Skip(static_cast<std::uint64_t>(item - (item < kMaxFrame ? item : kMaxFrame))))
      return false;
  }
  if (*count < 0) *count = 0;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  // An earlier download's file goes; a file of another pattern stays.
  WriteScratchFile("mail999.txt", data, 0);
  WriteScratchFile("mail1000.txt", data, 0);
  WCHAR path[kPathUnits];
  const std::wstring folder = ScratchPath() + L"mail???.txt";
  std::wcscpy(path, folder.c_str());
  OpenPort(data, size);
  const Message m = DownloadMail(path);
  ClosePort();
  if (m) {
    ClearScratch();
    return 0;
  }
  const int files = CountScratchFiles();
  const std::string first = ReadScratchFile("mail000.txt");
  ClearScratch();
  // Reported whole: every announced item arrived and has its file.
  FrameModel model(data, size);
  int light = 0, mail = 0;
  FUZZ_CHECK(SkipItems(&model, &light));
  FUZZ_CHECK(SkipItems(&model, &mail));
  const int written = light + mail;
  FUZZ_CHECK(files == written + (written > 1000 ? 0 : 1));
  if (written > 0) {
    const char* key = light > 0 ? "X-PORIKA-LIGHT: " : "X-PORIKA-MAIL: ";
    FUZZ_CHECK(first.compare(0, std::strlen(key), key) == 0);
  }
  return 0;
}

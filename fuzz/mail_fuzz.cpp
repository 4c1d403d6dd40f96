// The mail download on whatever the handset sends: light mail and mail
// records (header values, one-line values, a body that may run past the
// packet buffer or lie about its length), into numbered files.
#include <cstring>
#include <cwchar>
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
  // An earlier download's file goes (to the attic); files of other patterns stay.
  SetMemFile(L"MAIL999.TXT", data, 0);
  SetMemFile(L"mail1000.txt", data, 0);
  SetMemFile(L"mail12.txt", data, 0);
  WCHAR path[kPathUnits];
  std::wcscpy(path, (MemPath() + L"mail???.txt").c_str());
  OpenPort(data, size);
  const Message m = DownloadMail(path);
  ClosePort();
  const int files = MemFileCount();
  const std::string* first = MemFile(L"mail000.txt");
  const bool lightFirst = first && first->compare(0, 16, "X-PORIKA-LIGHT: ") == 0;
  const bool mailFirst = first && first->compare(0, 15, "X-PORIKA-MAIL: ") == 0;
  const bool oldKept = MemFile(L"MAIL999.TXT") != nullptr;
  const bool othersKept = MemFile(L"mail1000.txt") && MemFile(L"mail12.txt");
  // The earlier file is never deleted: it goes to the folder's attic.
  const int inAttic = MemFilesUnder(L"palvo-attic\\");
  ClearMemFiles();
  // A download that did not run to its end leaves the earlier files exactly
  // as they were and no new one (skipped faulty items are an end too).
  const bool ranToEnd = !m || std::wcscmp(m, L"データ異常") == 0;
  if (!ranToEnd) FUZZ_CHECK(oldKept && othersKept && files == 3 && inAttic == 0);
  if (m) return 0;
  // Reported whole: every announced item arrived and has its file, and the
  // earlier download's file is gone.
  FrameModel model(data, size);
  int light = 0, mail = 0;
  FUZZ_CHECK(SkipItems(&model, &light));
  FUZZ_CHECK(SkipItems(&model, &mail));
  const int written = light + mail;
  FUZZ_CHECK(!oldKept && othersKept && inAttic >= 1);
  // mail1000.txt is the 1001st item's name too (the earlier one then in the
  // attic beside MAIL999.TXT).
  FUZZ_CHECK(files - inAttic == written + (written > 1000 ? 1 : 2));
  if (written > 0) FUZZ_CHECK(light > 0 ? lightFirst : mailFirst);
  return 0;
}

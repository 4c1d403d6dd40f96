// The address book download on whatever the handset sends: the count, then
// entries of any length, those past the packet buffer streamed on.
#include <string>

#include "download/download.h"
#include "fuzz/harness.h"
#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  const std::wstring path = MemPath() + L"address.txt";
  OpenPort(data, size);
  const Message m = DownloadAddressBook(path.c_str());
  ClosePort();
  const std::string* written = MemFile(L"address.txt");
  const std::string file = written ? *written : std::string();
  ClearMemFiles();
  if (m) return 0;
  // Reported whole: the file is every announced entry, byte for byte.
  FrameModel model(data, size);
  const int total = model.Receive(kWholeFrame);
  FUZZ_CHECK(total >= kHeaderBytes);
  const int count = model.PayloadNumber(total);
  std::string expected;
  for (int i = 0; i < count; ++i) {
    const int item = model.Receive(kWholeFrame);
    FUZZ_CHECK(item >= kHeaderBytes);
    const int end = item < kMaxFrame ? item : kMaxFrame;
    expected.append(reinterpret_cast<const char*>(data + model.start + kHeaderBytes),
                    static_cast<std::size_t>(end - kHeaderBytes));
    const std::size_t at = model.pos;
    FUZZ_CHECK(model.Skip(static_cast<std::uint64_t>(item - end)));
    expected.append(reinterpret_cast<const char*>(data + at), static_cast<std::size_t>(item - end));
  }
  FUZZ_CHECK(file == expected);
  return 0;
}

// The download of one handset file on whatever the handset sends: the header,
// the echo of the request (right, wrong, cut short) and the content.
#include <cstring>
#include <string>

#include "download/download.h"
#include "fuzz/harness.h"
#include "link/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  if (size < 1) return 0;
  // Byte 0: the row's category (5 and up: out of the table, "other").
  const int category = data[0] % 7;
  data += 1;
  size -= 1;
  static const char* const kWire[] = {"image", "music", "net", "card", "other", "other", "other"};
  const std::wstring path = MemPath() + L"got.bin";
  OpenPort(data, size);
  const Message m = DownloadFile(path.c_str(), category, L"pic.jpg");
  const std::string& sent = ClosePort();
  const std::string* written = MemFile(L"got.bin");
  const std::string file = written ? *written : std::string();
  const int files = MemFileCount();
  ClearMemFiles();
  // Whole or nothing: a failed download leaves no file, not even a part file.
  FUZZ_CHECK(files == (m ? 0 : 1) && (m || written));
  const std::string request = std::string("pic.jpg\t") + kWire[category] + "\t";
  std::vector<SentFrame> frames;
  FUZZ_CHECK(ParseSent(sent, &frames) && frames.size() == 1 && frames[0].payload == request);
  if (m) return 0;
  // Reported whole: the echo matched and the file is the rest of the payload.
  FrameModel model(data, size);
  const int total = model.Receive(kHeaderOnlyMode);
  FUZZ_CHECK(total >= kHeaderBytes);
  const std::uint64_t payload = static_cast<std::uint64_t>(total - kHeaderBytes);
  FUZZ_CHECK(payload >= request.size());
  FUZZ_CHECK(std::memcmp(data + model.pos, request.data(), request.size()) == 0);
  FUZZ_CHECK(model.Skip(request.size()));
  const std::size_t at = model.pos;
  FUZZ_CHECK(model.Skip(payload - request.size()));
  FUZZ_CHECK(file.size() == payload - request.size());
  FUZZ_CHECK(std::memcmp(file.data(), data + at, file.size()) == 0);
  return 0;
}

// The mail upload over any local file: the header lines become the record
// head, the body follows from the file. An accepted upload must carry a record
// whose fields tile it and whose body is the file after its header lines.
#include <string>
#include <vector>

#include "fuzz/upload_script.h"
#include "upload/upload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  if (size < 1) return 0;
  const int accepted = data[0] & 1;
  const std::string file(reinterpret_cast<const char*>(data + 1), size - 1);
  SetMemFile(L"mail000.txt", data + 1, size - 1);
  const std::wstring path = MemPath() + L"mail000.txt";
  const std::string replies = UploadReplies(kMailUpload, accepted);
  OpenPort(replies);
  const Message m = UploadMail(path.c_str());
  const std::string& sent = ClosePort();
  // The upload closed its file, whatever happened.
  ClearMemFiles();
  std::vector<SentFrame> frames;
  if (m) return 0;
  FUZZ_CHECK(ParseSent(sent, &frames) && frames.size() == 1);
  const SentFrame& f = frames[0];
  const bool light = f.selector == kLightMailUpload.selector;
  FUZZ_CHECK(light || f.selector == kMailUpload.selector);
  FUZZ_CHECK(file.compare(0, light ? 15 : 14, light ? "X-PORIKA-LIGHT:" : "X-PORIKA-MAIL:") == 0);
  int fields = 0;
  FUZZ_CHECK(RecordTiles(reinterpret_cast<const std::uint8_t*>(f.payload.data()), f.payload.size(),
                         &fields));
  FUZZ_CHECK(fields == (light ? 7 : 5));
  // The body: the file after its header lines (one, or four for a light mail).
  std::size_t bodyStart = 0;
  for (int line = 0; line < (light ? 4 : 1); ++line) {
    // The last header line may end the file without a line end.
    const std::size_t lf = file.find('\n', bodyStart);
    bodyStart = lf == std::string::npos ? file.size() : lf + 1;
  }
  const std::string body = file.substr(bodyStart);
  FUZZ_CHECK(f.payload.size() >= body.size() + 7);
  FUZZ_CHECK(f.payload.compare(f.payload.size() - body.size(), body.size(), body) == 0);
  return 0;
}

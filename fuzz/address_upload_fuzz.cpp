// The address book upload over any local file: the file checked, then one
// vCard per request, each whole, re-ended with CR LF and within 4096 bytes.
#include <string>
#include <vector>

#include "fuzz/upload_script.h"
#include "upload/upload.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  if (size < 1) return 0;
  const int accepted = data[0];
  SetMemFile(L"address.txt", data + 1, size - 1);
  const std::wstring path = MemPath() + L"address.txt";
  const std::string replies = UploadReplies(kAddressRecord, accepted);
  OpenPort(replies);
  const Message m = UploadAddressBook(path.c_str());
  const std::string& sent = ClosePort();
  // The upload closed its file, whatever happened.
  ClearMemFiles();
  std::vector<SentFrame> frames;
  FUZZ_CHECK(ParseSent(sent, &frames));
  if (m) return 0;
  FUZZ_CHECK(frames.size() >= 3);
  const std::string begin = "BEGIN:VCARD\r\n", end = "END:VCARD\r\n";
  for (std::size_t i = 2; i + 1 < frames.size(); ++i) {
    const SentFrame& f = frames[i];
    FUZZ_CHECK(f.code == kAddressRecord.code && f.selector == kAddressRecord.selector);
    const std::string& card = f.payload;
    FUZZ_CHECK(card.size() <= 4096 && card.size() >= begin.size() + end.size());
    FUZZ_CHECK(card.compare(0, begin.size(), begin) == 0);
    FUZZ_CHECK(card.compare(card.size() - end.size(), end.size(), end) == 0);
    // Every line of it ends in CR LF, and no bare CR or LF is inside.
    for (std::size_t p = 0; p < card.size(); ++p) {
      if (card[p] == '\r') FUZZ_CHECK(p + 1 < card.size() && card[p + 1] == '\n');
      if (card[p] == '\n') FUZZ_CHECK(p > 0 && card[p - 1] == '\r');
    }
  }
  return 0;
}

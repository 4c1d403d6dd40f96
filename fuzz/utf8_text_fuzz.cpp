// The conversion of an edited text file into the handset's text: any bytes
// either go up untouched (not UTF-8) or come out as code page 932 with CR LF
// line ends that read back as the same text, or fail with a reason.
#include <string>

#include "fuzz/harness.h"
#include "link/messages.h"
#include "upload/text_convert.h"

namespace {

std::string Utf8OfCp932(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int n = static_cast<int>(bytes.size());
  std::wstring wide(static_cast<std::size_t>(n) + 1, L'\0');
  const int units = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes.data(), n, wide.data(),
                                        static_cast<int>(wide.size()));
  FUZZ_CHECK(units > 0);
  std::string utf8(static_cast<std::size_t>(units) * 4, '\0');
  const int got = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(),
                                      static_cast<int>(utf8.size()), nullptr, nullptr);
  FUZZ_CHECK(got > 0);
  utf8.resize(static_cast<std::size_t>(got));
  return utf8;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  SetMemFile(L"in.txt", data, size);
  const std::wstring in = MemPath() + L"in.txt", out = MemPath() + L"out.txt";
  bool converted = false;
  const Message m = ConvertUtf8Text(in.c_str(), out.c_str(), &converted);
  const int kind = Utf8TextKind(data, static_cast<DWORD>(size));
  const std::string* written = MemFile(L"out.txt");
  if (m) {
    FUZZ_CHECK(!converted && written == nullptr);
    FUZZ_CHECK(m == MSG_CHECK_CHARACTER ? kind == 1 && UnconvertedCharacter()[0] != 0
                                        : m == MSG_CHECK_FORMAT && kind == -1);
  } else if (!converted) {
    FUZZ_CHECK(kind == 0 && written == nullptr);
  } else {
    FUZZ_CHECK(kind == 1 && written != nullptr);
    // The text, BOM gone and every LF not after a CR made CR LF.
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string expected;
    for (std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; i < text.size(); ++i) {
      if (text[i] == '\n' && (expected.empty() || expected.back() != '\r')) expected += '\r';
      expected += text[i];
    }
    FUZZ_CHECK(Utf8OfCp932(*written) == expected);
  }
  ClearMemFiles();
  return 0;
}

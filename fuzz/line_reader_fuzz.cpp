// The line reader over any local file: lines of any length, no line end at
// the end, zero bytes. The pieces it hands out must be the file, in order.
#include <cstring>
#include <string>

#include "fuzz/harness.h"
#include "upload/line_reader.h"
#include "upload/upload_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  SetMemFile(L"lines.txt", data, size);
  const std::wstring path = MemPath() + L"lines.txt";
  HANDLE file = OpenForUpload(path.c_str());
  FUZZ_CHECK(file != INVALID_HANDLE_VALUE);
  std::size_t seen = 0;  // file bytes handed out so far
  ReadLine(nullptr);
  const char* const window = reinterpret_cast<const char*>(g_lineBuffer);
  while (const char* line = ReadLine(file)) {
    const int end = LineReadPosition();
    FUZZ_CHECK(line >= window && end >= 0 && end <= kLineWindow && line < window + end);
    const std::size_t n = static_cast<std::size_t>(window + end - line);
    FUZZ_CHECK(n <= size - seen);
    FUZZ_CHECK(std::memcmp(line, data + seen, n) == 0);
    // A piece holds at most one line end, its last byte.
    const void* lf = std::memchr(line, '\n', n);
    FUZZ_CHECK(!lf || lf == line + n - 1);
    // Terminated for callers that scan to a zero byte.
    FUZZ_CHECK(g_lineBuffer[kLineWindow] == 0);
    seen += n;
  }
  FUZZ_CHECK(ReadLine(file) == nullptr);
  CloseHandle(file);
  ClearMemFiles();
  FUZZ_CHECK(seen == size);
  return 0;
}

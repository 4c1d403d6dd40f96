// The line reader over any local file: lines of any length, no line end at
// the end, zero bytes. The pieces it hands out must be the file, in order.
#include <string>

#include "fuzz/harness.h"
#include "upload/line_reader.h"
#include "upload/upload_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInit();
  WriteScratchFile("lines.txt", data, size);
  const std::wstring path = ScratchPath() + L"lines.txt";
  HANDLE file = OpenForUpload(path.c_str());
  FUZZ_CHECK(file != INVALID_HANDLE_VALUE);
  std::string seen;
  ReadLine(nullptr);
  const char* const window = reinterpret_cast<const char*>(g_lineBuffer);
  while (const char* line = ReadLine(file)) {
    const int end = LineReadPosition();
    FUZZ_CHECK(line >= window && end >= 0 && end <= kLineWindow && line <= window + end);
    // A piece holds at most one line end, its last byte.
    const std::string piece(line, static_cast<std::size_t>(window + end - line));
    FUZZ_CHECK(!piece.empty());
    const std::size_t lf = piece.find('\n');
    FUZZ_CHECK(lf == std::string::npos || lf == piece.size() - 1);
    // Terminated for callers that scan to a zero byte.
    FUZZ_CHECK(g_lineBuffer[kLineWindow] == 0);
    seen += piece;
    FUZZ_CHECK(seen.size() <= size);
  }
  FUZZ_CHECK(ReadLine(file) == nullptr);
  CloseHandle(file);
  ClearScratch();
  FUZZ_CHECK(seen.size() == size &&
             seen.compare(0, size, reinterpret_cast<const char*>(data), size) == 0);
  return 0;
}

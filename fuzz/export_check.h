// What the export's fuzz targets share: the converters run on the fuzzer's
// bytes in memory, and checks of their output.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "export/convert.h"

struct ExportRun {
  InStream in;
  OutStream out;
  Problems problems;
  std::string output;
};

// One set of streams for the whole run (they are large); reset per input.
inline ExportRun& StartExportRun(const std::uint8_t* data, std::size_t size, const char* file) {
  static std::unique_ptr<ExportRun> run(new ExportRun);
  run->problems.Clear();
  run->problems.SetFile(file);
  run->in.OpenMemory(data, size);
  run->output.clear();
  run->out.OpenMemory(&run->output);
  return *run;
}

inline bool IsUtf8(const char* s, std::size_t n) {
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t len = b < 0x80                ? 1
                      : b >= 0xC2 && b < 0xE0 ? 2
                      : b >= 0xE0 && b < 0xF0 ? 3
                      : b >= 0xF0 && b < 0xF5 ? 4
                                              : 0;
    if (len == 0 || i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

// Every listed problem is terminated text that names the file.
inline bool ProblemsWellFormed(const Problems& p, const char* file) {
  for (int i = 0; i < p.listed(); ++i) {
    const std::string t = p.text(i);
    if (t.size() >= kProblemText || t.rfind(file, 0) != 0) return false;
  }
  return p.listed() <= p.count();
}

// What the export tests share: Shift-JIS bytes of wide text, and the three
// converters run on bytes in memory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "export/convert.h"
#include "platform/win32.h"

inline std::string Sjis(const wchar_t* text) {
  const int n = WideCharToMultiByte(932, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return "?";
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(932, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

struct Converted {
  std::string out;
  std::vector<std::string> problems;
  unsigned long long invalid = 0;
};

// The streams and problem list are large: made once.
struct Streams {
  InStream in;
  OutStream out;
  Problems problems;
};
inline Streams& TestStreams() {
  static std::unique_ptr<Streams> s(new Streams);
  return *s;
}

template <typename Run>
Converted RunConverter(const char* file, const std::string& input, Run run) {
  Streams& s = TestStreams();
  s.problems.Clear();
  s.problems.SetFile(file);
  s.in.OpenMemory(input.data(), input.size());
  Converted c;
  s.out.OpenMemory(&c.out);
  run(s);
  for (int i = 0; i < s.problems.listed(); ++i) c.problems.push_back(s.problems.text(i));
  c.invalid = s.problems.invalidBytes();
  return c;
}

inline bool IsValidUtf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char b = static_cast<unsigned char>(s[i]);
    const std::size_t n = b < 0x80                ? 1
                          : b >= 0xC2 && b < 0xE0 ? 2
                          : b >= 0xE0 && b < 0xF0 ? 3
                          : b >= 0xF0 && b < 0xF5 ? 4
                                                  : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// Text of a local file, in the charset it is written in, to UTF-8: through the
// platform's code-page conversion (MultiByteToWideChar), fed piece by piece.
#pragma once

#include <cstddef>

#include "platform/win32.h"

// The handset's text. Its files say "SHIFT_JIS" but mean the Windows code
// page 932, which has the NEC and IBM extension rows and maps 0x8160 to
// U+FF5E; every Shift-JIS name maps to it.
constexpr UINT kShiftJisPage = 932;

// The code page a CHARSET name stands for (letter case ignored); 0 when it
// names none we can convert.
UINT CodePageOfCharset(const char* name, std::size_t length);
// The name used in messages: "Shift-JIS", "UTF-8", or "code page N".
const char* CharsetLabel(UINT codePage, char (&buffer)[24]);

// Where converted text goes: whole UTF-8 characters, in order.
class TextSink {
 public:
  virtual void Utf8(const char* text, std::size_t length) = 0;

 protected:
  ~TextSink() = default;
};

// Bytes of one code page to UTF-8. A character cut between two pieces waits
// for the next one; every byte that is not part of a character of the code
// page becomes one U+FFFD and is counted (a Shift-JIS lead byte with a trail
// byte that makes no character counts as two).
class Decoder {
 public:
  void Reset(UINT codePage);
  void Feed(const void* bytes, std::size_t length, TextSink& sink);
  // The end of the text: bytes still waiting are an incomplete character.
  void Finish(TextSink& sink);
  UINT codePage() const { return codePage_; }
  unsigned long long invalid() const { return invalid_; }

 private:
  static constexpr std::size_t kPiece = 2048;
  static constexpr std::size_t kHold = 64;  // what a piece may leave for the next
  void Convert(const BYTE* in, std::size_t length, bool final, TextSink& sink);
  bool Emit(const BYTE* in, std::size_t length, TextSink& sink);
  void Replace(std::size_t count, TextSink& sink);

  UINT codePage_ = kShiftJisPage;
  unsigned long long invalid_ = 0;
  std::size_t held_ = 0;
  BYTE work_[kHold + kPiece];
  WCHAR wide_[kHold + kPiece];
  char utf8_[4 * (kHold + kPiece)];
};

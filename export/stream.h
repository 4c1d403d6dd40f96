// What the export's readers and writers share: a local file read in pieces
// (or, for the tests, bytes in memory), a buffered output file (or a string),
// and the list of problems the summary reports.
#pragma once

#include <cstddef>
#include <string>

#include "export/charset.h"
#include "platform/win32.h"

constexpr std::size_t kExportPiece = 4096;

// Bytes in, one at a time or by the piece. A failed read ends the input and
// sets failed.
class InStream {
 public:
  void OpenFile(HANDLE file);
  void OpenMemory(const void* bytes, std::size_t length);
  int Get() { return pos_ < fill_ || Refill() ? data_[pos_++] : -1; }
  int Peek() { return pos_ < fill_ || Refill() ? data_[pos_] : -1; }
  // Back to the first byte; false when the file cannot be moved.
  bool Rewind();
  bool failed() const { return failed_; }

 private:
  bool Refill();
  HANDLE file_ = INVALID_HANDLE_VALUE;
  const BYTE* data_ = nullptr;
  std::size_t pos_ = 0, fill_ = 0;
  bool failed_ = false;
  BYTE buffer_[kExportPiece];
};

// Bytes out, gathered into pieces. A failed write keeps failed set and
// drops what follows.
class OutStream {
 public:
  void OpenFile(HANDLE file);
  void OpenMemory(std::string* text);
  void Write(const void* bytes, std::size_t length);
  void Put(char c) {
    if (fill_ == kExportPiece) Flush();
    buffer_[fill_++] = static_cast<BYTE>(c);
  }
  void Text(const char* text);
  // Writes out what is gathered; false if any write so far failed.
  bool Flush();
  bool failed() const { return failed_; }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::string* memory_ = nullptr;
  std::size_t fill_ = 0;
  bool failed_ = false;
  BYTE buffer_[kExportPiece];
};

// The problems of one export, each with its file and line, as the summary
// lists them: the first kListedProblems in full, the rest counted. Each is
// worded in the run's language, chosen once by the caller; a Japanese text
// takes three bytes a character, hence the room.
constexpr int kListedProblems = 100;
constexpr std::size_t kProblemText = 320;

class Problems {
 public:
  // Empties the list; the language stays.
  void Clear();
  void SetJapanese(bool japanese) { japanese_ = japanese; }
  bool japanese() const { return japanese_; }
  // The file whose problems follow (its name in UTF-8).
  void SetFile(const char* name);
  // line 0: the file as a whole. Both formats take the same arguments in
  // the same order; the run's language picks one.
  void Add(unsigned long line, const char* english, const char* japanese, ...)
#if defined(__MINGW_PRINTF_FORMAT)
      __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 5), format(__MINGW_PRINTF_FORMAT, 4, 5)))
#elif defined(__GNUC__)
      __attribute__((format(printf, 3, 5), format(printf, 4, 5)))
#endif
      ;
  // Bytes of the file that became U+FFFD on one line (of a card, if not 0).
  void AddInvalid(unsigned long line, unsigned long long count, UINT codePage, unsigned card = 0);
  int count() const { return count_; }
  int listed() const { return count_ < kListedProblems ? count_ : kListedProblems; }
  const char* text(int i) const { return text_[i]; }
  unsigned long long invalidBytes() const { return invalidBytes_; }

 private:
  char file_[kProblemText / 2] = {};
  int count_ = 0;
  bool japanese_ = false;
  unsigned long long invalidBytes_ = 0;
  char text_[kListedProblems][kProblemText];
};

#include "export/stream.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

void InStream::OpenFile(HANDLE file) {
  file_ = file;
  data_ = buffer_;
  pos_ = fill_ = 0;
  failed_ = false;
}

void InStream::OpenMemory(const void* bytes, std::size_t length) {
  file_ = INVALID_HANDLE_VALUE;
  data_ = static_cast<const BYTE*>(bytes);
  pos_ = 0;
  fill_ = length;
  failed_ = false;
}

bool InStream::Refill() {
  if (file_ == INVALID_HANDLE_VALUE || failed_) return false;
  DWORD got = 0;
  if (!ReadFile(file_, buffer_, kExportPiece, &got, nullptr)) {
    failed_ = true;
    got = 0;
  }
  pos_ = 0;
  fill_ = got;
  return got > 0;
}

bool InStream::Rewind() {
  pos_ = 0;
  if (file_ == INVALID_HANDLE_VALUE) return true;
  fill_ = 0;
  return SetFilePointer(file_, 0, nullptr, FILE_BEGIN) == 0;
}

void OutStream::OpenFile(HANDLE file) {
  file_ = file;
  memory_ = nullptr;
  fill_ = 0;
  failed_ = false;
}

void OutStream::OpenMemory(std::string* text) {
  file_ = INVALID_HANDLE_VALUE;
  memory_ = text;
  fill_ = 0;
  failed_ = false;
}

void OutStream::Write(const void* bytes, std::size_t length) {
  const BYTE* p = static_cast<const BYTE*>(bytes);
  while (length > 0) {
    if (fill_ == kExportPiece) Flush();
    std::size_t n = kExportPiece - fill_;
    if (n > length) n = length;
    std::memcpy(buffer_ + fill_, p, n);
    fill_ += n;
    p += n;
    length -= n;
  }
}

void OutStream::Text(const char* text) { Write(text, std::strlen(text)); }

bool OutStream::Flush() {
  if (memory_) {
    memory_->append(reinterpret_cast<const char*>(buffer_), fill_);
  } else if (!failed_) {
    // Short writes go on from where they stopped; no progress is a failure.
    std::size_t done = 0;
    while (done < fill_) {
      DWORD wrote = 0;
      if (!WriteFile(file_, buffer_ + done, static_cast<DWORD>(fill_ - done), &wrote, nullptr) ||
          wrote == 0) {
        failed_ = true;
        break;
      }
      done += wrote;
    }
  }
  fill_ = 0;
  return !failed_;
}

namespace {

// Text for the terminal: bytes that are no UTF-8 character (names and values
// from a file may be anything, or cut short) and control bytes become '?'.
void Sanitise(char* text) {
  unsigned char* p = reinterpret_cast<unsigned char*>(text);
  while (*p) {
    const unsigned char b = *p;
    std::size_t n = b < 0x80                ? 1
                    : b >= 0xC2 && b < 0xE0 ? 2
                    : b >= 0xE0 && b < 0xF0 ? 3
                    : b >= 0xF0 && b < 0xF5 ? 4
                                            : 0;
    for (std::size_t k = 1; k < n; ++k) {
      if ((p[k] & 0xC0) != 0x80) {  // also stops at the terminator
        n = 0;
        break;
      }
    }
    if (n == 0 || (n == 1 && (b < 0x20 || b == 0x7F))) {
      *p++ = '?';
    } else {
      p += n;
    }
  }
}

}  // namespace

void Problems::Clear() {
  count_ = 0;
  invalidBytes_ = 0;
  file_[0] = 0;
}

void Problems::SetFile(const char* name) { std::snprintf(file_, sizeof file_, "%s", name); }

void Problems::Add(unsigned long line, const char* english, const char* japanese, ...) {
  if (count_ < kListedProblems) {
    char* out = text_[count_];
    // The file name is copied by hand: both buffers are members, which
    // fortified snprintf takes for an overlap.
    const std::size_t name = std::strlen(file_);  // below kProblemText / 2
    std::memcpy(out, file_, name);
    int n = static_cast<int>(name);
    const int more = line ? std::snprintf(out + n, kProblemText - name, ":%lu: ", line)
                          : std::snprintf(out + n, kProblemText - name, ": ");
    if (more > 0) n += more;
    if (static_cast<std::size_t>(n) < kProblemText) {
      va_list args;
      va_start(args, japanese);
      std::vsnprintf(out + n, kProblemText - static_cast<std::size_t>(n),
                     japanese_ ? japanese : english, args);
      va_end(args);
    }
    Sanitise(out);
  }
  ++count_;
}

void Problems::AddInvalid(unsigned long line, unsigned long long count, UINT codePage,
                          unsigned card) {
  if (count == 0) return;
  invalidBytes_ += count;
  char label[24], text[kProblemText];
  const char* charset = CharsetLabel(codePage, label);
  // The Japanese names the character set before the count.
  if (japanese_ && card) {
    std::snprintf(text, sizeof text,
                  "カード %u: %s として正しくない %llu バイトを U+FFFD にしました", card, charset,
                  count);
  } else if (japanese_) {
    std::snprintf(text, sizeof text, "%s として正しくない %llu バイトを U+FFFD にしました", charset,
                  count);
  } else {
    char where[24] = "";
    if (card) std::snprintf(where, sizeof where, "card %u: ", card);
    std::snprintf(text, sizeof text, "%s%llu %s not valid %s, written as U+FFFD", where, count,
                  count == 1 ? "byte" : "bytes", charset);
  }
  Add(line, "%s", "%s", text);
}

// The pieces of a message's text: the body as quoted-printable lines for the
// message and the mbox and as HTML for the archive's page; pictograms
// counted.
#pragma once

#include <cstring>

#include "export/message.h"

constexpr std::size_t kQpLine = 76;

// A private-use character of the code page's user-defined area (U+E000 to
// U+E757), at c's three UTF-8 bytes.
bool IsPictogram(const unsigned char* c);

// The body, line by line: quoted-printable lines (at most 76 characters) to
// the message and the mbox, HTML-escaped text to the page.
class BodySink final : public TextSink {
 public:
  void Start(MailOutputs* out) {
    out_ = out;
    fill_ = 0;
    pendingBlank_ = 0;
    pictograms_ = 0;
  }
  void Utf8(const char* text, std::size_t n) override {
    for (std::size_t i = 0; i < n;) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      const std::size_t len = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      if (len == 3 && i + 2 < n && IsPictogram(reinterpret_cast<const unsigned char*>(text + i)))
        ++pictograms_;
      for (std::size_t k = 0; k < len && i < n; ++k, ++i) Byte(static_cast<unsigned char>(text[i]));
    }
  }
  // The end of a line (and of the text, when it has bytes of a last line).
  void EndLine() {
    Blank(true);
    Emit();
    out_->page->Put('\n');
  }
  bool empty() const { return fill_ == 0 && pendingBlank_ == 0; }
  unsigned long long pictograms() const { return pictograms_; }

 private:
  void Byte(unsigned char c) {
    if (c == '\n') {
      EndLine();
      return;
    }
    Page(c);
    if (c == ' ' || c == '\t') {
      Blank(false);
      pendingBlank_ = c;
      return;
    }
    Blank(false);
    if (c == '=' || c < 0x20 || c >= 0x7F) {
      Hex(c);
    } else {
      Room(1);
      line_[fill_++] = static_cast<char>(c);
    }
  }
  // A blank is written as it is unless it ends the line.
  void Blank(bool atEnd) {
    if (!pendingBlank_) return;
    const unsigned char b = pendingBlank_;
    pendingBlank_ = 0;
    if (atEnd) {
      Hex(b);
    } else {
      Room(1);
      line_[fill_++] = static_cast<char>(b);
    }
  }
  void Hex(unsigned char c) {
    static const char kDigits[] = "0123456789ABCDEF";
    Room(3);
    line_[fill_++] = '=';
    line_[fill_++] = kDigits[c >> 4];
    line_[fill_++] = kDigits[c & 15];
  }
  // A soft line break when n more would pass the line's length ('=' included).
  void Room(std::size_t n) {
    if (fill_ + n + 1 <= kQpLine) return;
    line_[fill_++] = '=';
    Emit();
  }
  void Emit() {
    out_->eml->Write(line_, fill_);
    out_->eml->Write("\r\n", 2);
    // mboxrd: every line that reads ">*From " gets one more '>'.
    std::size_t i = 0;
    while (i < fill_ && line_[i] == '>') ++i;
    if (fill_ - i >= 5 && std::memcmp(line_ + i, "From ", 5) == 0) out_->mbox->Put('>');
    out_->mbox->Write(line_, fill_);
    out_->mbox->Put('\n');
    fill_ = 0;
  }
  void Page(unsigned char c) {
    OutStream& p = *out_->page;
    switch (c) {
      case '&':
        p.Text("&amp;");
        break;
      case '<':
        p.Text("&lt;");
        break;
      case '>':
        p.Text("&gt;");
        break;
      case '"':
        p.Text("&quot;");
        break;
      default:
        if (c >= 0x20 || c == '\t') p.Put(static_cast<char>(c));
    }
  }

  MailOutputs* out_ = nullptr;
  char line_[kQpLine + 4];
  std::size_t fill_ = 0;
  unsigned char pendingBlank_ = 0;
  unsigned long long pictograms_ = 0;
};

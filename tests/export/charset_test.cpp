// Bytes of a charset to UTF-8 through the platform's conversion: names,
// CP932's own rows, invalid bytes, and characters cut between pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/export/export_support.h"

namespace {

class StringSink final : public TextSink {
 public:
  void Utf8(const char* text, std::size_t n) override { text_.append(text, n); }
  std::string text_;
};

TEST(CharsetTest, NamesMapToCodePages) {
  const struct {
    const char* name;
    UINT page;
  } cases[] = {{"SHIFT_JIS", 932},    {"Shift-JIS", 932}, {"sjis", 932},      {"x-sjis", 932},
               {"Windows-31J", 932},  {"CP932", 932},     {"UTF-8", CP_UTF8}, {"utf8", CP_UTF8},
               {"ISO-8859-1", 28591}, {"EUC-JP", 20932},  {"KLINGON", 0},     {"", 0}};
  for (const auto& c : cases)
    EXPECT_EQ(CodePageOfCharset(c.name, std::strlen(c.name)), c.page) << c.name;
}

TEST(CharsetTest, WholeOrByteByByteTheSameText) {
  const struct {
    UINT page;
    std::string bytes;
    std::string utf8;
    unsigned long long invalid;
  } cases[] = {
      {932, Sjis(L"漢字ｶﾅabc"), "漢字ｶﾅabc", 0},
      // NEC row 13, the wave dash as CP932 has it, IBM extensions, 0x5C trails.
      {932, "\x87\x40\x87\x90\x81\x60\xFA\x40\xFB\xFC\x83\x5C\x95\x5C", "①≒～ⅰ髙ソ表", 0},
      // A lead byte before an ASCII byte, an unassigned pair, a lead byte at the end.
      {932,
       "a\x85"
       "Ab\x85\x90z\x82",
       "a\xEF\xBF\xBD"
       "Ab\xEF\xBF\xBD\xEF\xBF\xBDz\xEF\xBF\xBD",
       4},
      {CP_UTF8, "ok \xE6\xBC\xA2 \xE6\xBC \xFF \xED\xA0\x80!",
       "ok 漢 \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD!", 6},
      // Beyond U+10FFFF: no character, each byte U+FFFD.
      {CP_UTF8, "a\xF6\x8D\xA1\x82\xF4\x90\x80\x80",
       "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF"
       "\xBF\xBD",
       8},
      {28591, "M\xFCller", "Müller", 0},
  };
  for (const auto& c : cases) {
    Decoder whole, bytewise;
    StringSink a, b;
    whole.Reset(c.page);
    whole.Feed(c.bytes.data(), c.bytes.size(), a);
    whole.Finish(a);
    bytewise.Reset(c.page);
    for (char ch : c.bytes) bytewise.Feed(&ch, 1, b);
    bytewise.Finish(b);
    EXPECT_EQ(a.text_, c.utf8) << c.page << " " << c.utf8;
    EXPECT_EQ(b.text_, c.utf8) << c.page << " " << c.utf8;
    EXPECT_EQ(whole.invalid(), c.invalid) << c.utf8;
    EXPECT_EQ(bytewise.invalid(), c.invalid) << c.utf8;
  }
}

// Long text without a byte below 0x40, so pieces end inside characters.
TEST(CharsetTest, PiecesCutInsideCharacters) {
  std::wstring wide;
  for (int i = 0; i < 3000; ++i) wide += i % 2 ? L"漢" : L"ｶ";
  const std::string sjis = Sjis(wide.c_str());
  std::string expected;
  for (int i = 0; i < 3000; ++i) expected += i % 2 ? "漢" : "ｶ";
  for (std::size_t piece : {1u, 7u, 4095u, 4096u, 5000u}) {
    Decoder d;
    StringSink s;
    d.Reset(932);
    for (std::size_t at = 0; at < sjis.size(); at += piece)
      d.Feed(sjis.data() + at, std::min(piece, sjis.size() - at), s);
    d.Finish(s);
    EXPECT_TRUE(s.text_ == expected) << piece;
    EXPECT_EQ(d.invalid(), 0u) << piece;
  }
}

}  // namespace

namespace {

// Names and values from a file may be any bytes: a problem's text stays
// UTF-8 without control characters, also when cut at its limit.
TEST(ProblemsTest, TextsAreCleanUtf8) {
  static Problems p;
  p.Clear();
  p.SetFile("bad\x82\xA0name.txt");
  p.Add(3, "value %s", "値 %s", "\x1B[31m\xE6\xBC");
  // After "bad??name.txt:4: " (17 bytes), a character whose last byte falls
  // on the terminator.
  std::string longName(kProblemText + 60, 'x');
  longName[kProblemText - 20] = '\xE6';
  longName[kProblemText - 19] = '\xBC';
  longName[kProblemText - 18] = '\xA2';
  p.Add(4, "%s", "%s", longName.c_str());
  ASSERT_EQ(p.count(), 2);
  EXPECT_EQ(std::string(p.text(0)), "bad??name.txt:3: value ?[31m??");
  EXPECT_TRUE(IsValidUtf8(p.text(1)));
  EXPECT_LT(std::strlen(p.text(1)), kProblemText);
  for (int i = 0; i < kListedProblems + 5; ++i) p.Add(1, "again", "再び");
  EXPECT_EQ(p.count(), kListedProblems + 7);
  EXPECT_EQ(p.listed(), kListedProblems);
}

}  // namespace

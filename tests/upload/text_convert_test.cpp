#include "upload/text_convert.h"

#include <string>

#include "link/messages.h"
#include "upload/upload.h"
#include "upload_fixture.h"

namespace {

// Which files count as UTF-8 to convert: the rule that keeps Shift-JIS
// files byte for byte.
TEST(Utf8TextKindTest, DecidesByBomAndMultiByteSequences) {
  const struct {
    const char* what;
    std::string bytes;
    int kind;
  } cases[] = {
      {"empty", "", 0},
      {"ASCII only", "N:Suzuki\r\n", 0},
      {"UTF-8 Japanese", "N:\xE9\x88\xB4\xE6\x9C\xA8\n", 1},
      {"a BOM before ASCII", "\xEF\xBB\xBFN:a\n", 1},
      {"a BOM alone", "\xEF\xBB\xBF", 1},
      {"Shift-JIS", "N:\x97\xE9\x96\xD8\r\n", 0},
      {"Shift-JIS that starts like UTF-8", "\xE3\x81\x82\x82\xA0", 0},
      {"a BOM before Shift-JIS", "\xEF\xBB\xBF\x97\xE9", -1},
      {"an overlong slash", "a\xC0\xAF", 0},
      {"a surrogate", "\xED\xA0\x80", 0},
      {"cut at the end", "\xE9\x88", 0},
      {"four bytes", "\xF0\x9F\x98\x80", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8TextKind(reinterpret_cast<const BYTE*>(c.bytes.data()),
                           static_cast<DWORD>(c.bytes.size())),
              c.kind)
        << c.what;
  }
}

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    dir_ = MakeTempDir();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  Message Convert(const std::string& bytes, bool* converted) {
    WriteBytes(dir_ / "in.txt", bytes);
    return ConvertUtf8Text((dir_ / "in.txt").wstring().c_str(),
                           (dir_ / "out.txt").wstring().c_str(), converted);
  }
  fs::path dir_;
};

// Line ends become CR LF whatever they were; a long file crosses the
// converter's buffer with a character cut at its edge.
TEST_F(ConvertTest, WritesShiftJisWithCrLf) {
  bool converted = false;
  std::string text = "\xE3\x81\x82\n\xE3\x81\x84\r\n";
  std::string expected = "\x82\xA0\r\n\x82\xA2\r\n";
  for (int i = 0; i < 3000; ++i) {
    text += "\xE6\x97\xA5";  // 日: three bytes, so one straddles 4096
    expected += "\x93\xFA";
  }
  EXPECT_EQ(Convert(text, &converted), nullptr);
  EXPECT_TRUE(converted);
  EXPECT_EQ(ReadBytes(dir_ / "out.txt"), expected);
}

TEST_F(ConvertTest, ACharacterTheCodePageLacksNamesItsLine) {
  bool converted = true;
  EXPECT_EQ(Convert("a\n\xE3\x81\x82\nx\xF0\x9F\x98\x80\n", &converted), MSG_CHECK_CHARACTER);
  EXPECT_FALSE(converted);
  EXPECT_EQ(CheckedLine(), 3);
  EXPECT_EQ(std::wstring(UnconvertedCharacter()), std::wstring(L"\U0001F600"));
  EXPECT_FALSE(fs::exists(dir_ / "out.txt"));
}

}  // namespace

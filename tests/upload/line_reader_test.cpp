#include "upload/line_reader.h"

#include <cstring>
#include <string>
#include <vector>

#include "upload_fixture.h"

namespace {

class LineReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    dir_ = MakeTempDir();
  }
  void TearDown() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void Open(const std::string& bytes) {
    const fs::path path = dir_ / "lines.txt";
    WriteBytes(path, bytes);
    file_ = CreateFileW(path.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file_, INVALID_HANDLE_VALUE);
    ReadLine(nullptr);
  }

  // The next line up to its LF, or up to the terminating zero when it has none.
  // "<null>" at the end of the file.
  std::string Next() {
    const char* line = ReadLine(file_);
    if (!line) return "<null>";
    const char* end = line + std::strlen(line);
    const char* lf = static_cast<const char*>(std::memchr(line, '\n', end - line));
    return std::string(line, lf ? lf + 1 : end);
  }

  fs::path dir_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

TEST_F(LineReaderTest, EmptyFileHasNoLines) {
  Open("");
  EXPECT_EQ(Next(), "<null>");
  EXPECT_EQ(Next(), "<null>");
}

TEST_F(LineReaderTest, LineEndsStayInTheLine) {
  Open("a\r\nb\rc\n\nlast");
  EXPECT_EQ(Next(), "a\r\n");
  EXPECT_EQ(Next(), "b\rc\n");  // a lone CR does not end a line
  EXPECT_EQ(Next(), "\n");      // an empty line is a line, not the end
  EXPECT_EQ(Next(), "last");    // without LF, ended by the zero byte
  EXPECT_EQ(Next(), "<null>");
  EXPECT_EQ(Next(), "<null>");
}

TEST_F(LineReaderTest, FileEndingWithLfAtTheWindowEdge) {
  std::string bytes;
  for (int i = 0; i < 64; ++i) bytes += std::string(63, static_cast<char>('A' + i % 26)) + "\n";
  ASSERT_EQ(bytes.size(), 4096u);
  Open(bytes);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(Next(), bytes.substr(i * 64, 64)) << i;
  EXPECT_EQ(LineReadPosition(), 4096);
  EXPECT_FALSE(LastLineFilledWindow());
  EXPECT_EQ(Next(), "<null>");  // the refill finds nothing
  EXPECT_EQ(LineFileOffset(), 4096);
}

TEST_F(LineReaderTest, LongLinesComeInWindowSizedPieces) {
  Open(std::string(5000, 'x') + "\n" + "next\n");
  EXPECT_EQ(Next(), std::string(4096, 'x'));
  EXPECT_TRUE(LastLineFilledWindow());
  EXPECT_EQ(Next(), std::string(904, 'x') + "\n");
  EXPECT_FALSE(LastLineFilledWindow());
  EXPECT_EQ(LineFileOffset(), 5001);
  EXPECT_EQ(Next(), "next\n");
  EXPECT_EQ(Next(), "<null>");
}

TEST_F(LineReaderTest, WindowSizedLineThenItsLf) {
  Open(std::string(4096, 'y') + "\n");
  EXPECT_EQ(Next(), std::string(4096, 'y'));
  EXPECT_EQ(Next(), "\n");
  EXPECT_EQ(Next(), "<null>");
}

TEST_F(LineReaderTest, LinesAcrossAWindowRefill) {
  // The third line straddles byte 4096: its head moves to the window's front.
  const std::string a(3000, 'a'), b(1000, 'b'), c(500, 'c');
  Open(a + "\n" + b + "\n" + c + "\n");
  EXPECT_EQ(Next(), a + "\n");
  EXPECT_EQ(Next(), b + "\n");
  EXPECT_EQ(LineFileOffset(), 4002);
  EXPECT_EQ(Next(), c + "\n");
  EXPECT_EQ(LineReadPosition(), 501);  // an index in the moved window...
  EXPECT_EQ(LineFileOffset(), 4503);   // ...the offset stays exact
  EXPECT_EQ(Next(), "<null>");
}

TEST_F(LineReaderTest, ReadPositionIsTheOffsetAfterShortLines) {
  Open("one\r\ntwo\nthree\r\nrest of the file");
  Next();
  Next();
  Next();
  EXPECT_EQ(LineReadPosition(), 16);
  EXPECT_EQ(LineFileOffset(), 16);
}

TEST_F(LineReaderTest, RewindAndResetStartOver) {
  Open("first\nsecond\nthird");
  EXPECT_EQ(Next(), "first\n");
  EXPECT_EQ(Next(), "second\n");
  SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
  ReadLine(nullptr);
  EXPECT_EQ(Next(), "first\n");
  EXPECT_EQ(Next(), "second\n");
  EXPECT_EQ(Next(), "third");
  EXPECT_EQ(Next(), "<null>");
}

// The number of each line handed out: pieces of a line longer than the
// window, and the LF that follows a window-sized line, keep their line's.
TEST_F(LineReaderTest, LineNumbersCountLinesNotPieces) {
  const struct {
    std::string bytes;
    std::vector<int> numbers;  // of each line handed out, in order
  } cases[] = {
      {"a\r\nb\rc\n\nlast", {1, 2, 3, 4}},
      {std::string(5000, 'x') + "\nnext\n", {1, 1, 2}},
      {std::string(4096, 'y') + "\nnext", {1, 1, 2}},
      {std::string(4000, 'z') + "\n" + std::string(200, 'w') + "\nthird\n", {1, 2, 3}},
  };
  for (const auto& c : cases) {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    Open(c.bytes);
    EXPECT_EQ(LineNumber(), 0);
    std::vector<int> numbers;
    while (Next() != "<null>") numbers.push_back(LineNumber());
    EXPECT_EQ(numbers, c.numbers) << c.bytes.substr(0, 20);
    ReadLine(nullptr);
    EXPECT_EQ(LineNumber(), 0);
  }
}

}  // namespace

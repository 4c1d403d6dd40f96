#include <chrono>

#include "upload/upload.h"
#include "upload_fixture.h"

namespace {

TEST(ExtensionRule, CategoryFollowsTheLastExtension) {
  const struct {
    const WCHAR* name;
    int category;
  } cases[] = {
      {L"PHOTO.JPG", 0}, {L"photo.jpg", 0}, {L"a.jpeg", 0},        {L"b.JPE", 0},
      {L"c.png", 0},     {L".jpg", 0},      {L"tone.mid", 1},      {L"tone.MIDI", 1},
      {L"x.adp", 1},     {L"page.htm", 2},  {L"page.html", 2},     {L"page.xhtml", 2},
      {L"page.xhtm", 2}, {L"s.shtml", 2},   {L"app.js", 2},        {L"feed.xml", 2},
      {L"me.vcf", 3},    {L"notes.txt", 4}, {L"data.json", 4},     {L"jpg", 4},
      {L"", 4},          {L"ab", 4},        {L"photo.jpg.txt", 4}, {L"x.jpgx", 4},
  };
  for (const auto& c : cases) EXPECT_EQ(CategoryOfName(c.name), c.category) << Text(c.name);
}

using FileUploadTest = UploadTest;

TEST_F(FileUploadTest, NameHeaderThenEveryByteInOneRequest) {
  std::string content(10000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + 3);
  const std::wstring path = LocalFile("local.bin", content);
  Message result;
  auto requests = Run([&] { return UploadFile(path.c_str(), L"pic.JPG"); }, &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(requests.size(), 1u);
  const ReceivedRequest& r = requests[0];
  EXPECT_EQ(std::string(r.header.begin(), r.header.begin() + 4),
            std::string("\xE1\x01\x00\x03", 4));
  EXPECT_EQ(r.group, 6u);
  EXPECT_EQ(r.operation, 3u);
  const std::string header = "pic.JPG\timage\t";
  EXPECT_EQ(AnnouncedLength(r), header.size() + 10000 + 4);
  EXPECT_EQ(r.payload, header + content);
}

TEST_F(FileUploadTest, EmptyFileSendsTheNameHeaderAndTheReplyDecides) {
  const std::wstring path = LocalFile("empty", "");
  Message result;
  auto requests = Run([&] { return UploadFile(path.c_str(), L"readme"); }, &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].payload, "readme\tother\t");

  requests = Run([&] { return UploadFile(path.c_str(), L"readme"); }, &result,
                 [](const ReceivedRequest&, std::size_t) { return Reply{"1"}; });
  EXPECT_EQ(Text(result), Text(MSG_UPLOAD_FAILED));
  EXPECT_EQ(requests.size(), 1u);
}

TEST_F(FileUploadTest, NoReplyIsAFailedTransfer) {
  const std::wstring path = LocalFile("a.txt", "abc");
  Message result;
  auto requests = Run([&] { return UploadFile(path.c_str(), L"a.txt"); }, &result,
                      [](const ReceivedRequest&, std::size_t) {
                        return Reply{"", true};
                      });
  EXPECT_EQ(Text(result), Text(MSG_UPLOAD_FAILED));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].payload, "a.txt\tother\tabc");
}

TEST_F(FileUploadTest, KanjiNameGoesAsShiftJis) {
  const std::wstring path = LocalFile("k.jpg", "JPEG");
  Message result;
  auto requests = Run([&] { return UploadFile(path.c_str(), L"写真.jpg"); }, &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].payload, "\x8E\xCA\x90\x5E.jpg\timage\tJPEG");
}

TEST_F(FileUploadTest, MissingLocalFileSendsNothing) {
  Message result;
  auto requests =
      Run([&] { return UploadFile((dir_ / "nothing-here").wstring().c_str(), L"x.jpg"); }, &result);
  EXPECT_EQ(Text(result), Text(MSG_FILE_OPEN_ERROR));
  EXPECT_TRUE(requests.empty());
}

TEST_F(FileUploadTest, NamesTheHandsetCannotTakeAreRefusedBeforeSending) {
  const std::wstring path = LocalFile("a.jpg", "x");
  Message result;
  // 259 bytes fit, 260 do not; a kanji takes two.
  const std::wstring fits = std::wstring(129, L'字') + L"x";
  const std::wstring tooLong = std::wstring(130, L'字');
  auto requests = Run([&] { return UploadFile(path.c_str(), tooLong.c_str()); }, &result);
  EXPECT_EQ(Text(result), Text(MSG_CHECK_NAME_TOO_LONG));
  EXPECT_TRUE(requests.empty());
  requests =
      Run([&] { return UploadFile(path.c_str(), std::wstring(260, L'a').c_str()); }, &result);
  EXPECT_EQ(Text(result), Text(MSG_CHECK_NAME_TOO_LONG));
  EXPECT_TRUE(requests.empty());

  // Not in the code page: the handset would get '?' or a look-alike (the
  // wave dash and the not sign have full-width ones) instead.
  for (const WCHAR* name : {L"한.jpg", L"\u301C.jpg", L"\u00AC.jpg"}) {
    requests = Run([&] { return UploadFile(path.c_str(), name); }, &result);
    EXPECT_EQ(Text(result), Text(MSG_CHECK_NAME_CHARS)) << Text(name);
    EXPECT_TRUE(requests.empty());
  }
  // The full-width tilde is in it, and a '?' of the name's own is no loss.
  for (const WCHAR* name : {L"\uFF5E.jpg", L"a?.jpg"}) {
    requests = Run([&] { return UploadFile(path.c_str(), name); }, &result);
    EXPECT_EQ(Text(result), Text(nullptr)) << Text(name);
    EXPECT_EQ(requests.size(), 1u);
  }

  // A TAB would end the name early on the handset.
  requests = Run([&] { return UploadFile(path.c_str(), L"a\tb.jpg"); }, &result);
  EXPECT_EQ(Text(result), Text(MSG_CHECK_NAME_CHARS));
  EXPECT_TRUE(requests.empty());

  requests = Run([&] { return UploadFile(path.c_str(), fits.c_str()); }, &result);
  EXPECT_EQ(Text(result), Text(nullptr));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].payload.size(), 259u + 7 + 1);
}

TEST_F(FileUploadTest, FilesBeyondTheFrameLengthAreRefused) {
  // Sparse files: nothing is written to disk.
  const fs::path big = dir_ / "big.bin";
  WriteBytes(big, "");
  Message result;
  const std::string header = "big.bin\tother\t";
  for (std::uintmax_t size :
       {std::uintmax_t{0x100000000}, std::uintmax_t{0xFFFFFFFBu} - header.size() + 1}) {
    fs::resize_file(big, size);
    auto requests = Run([&] { return UploadFile(big.wstring().c_str(), L"big.bin"); }, &result);
    EXPECT_EQ(Text(result), Text(MSG_CHECK_TOO_LARGE)) << size;
    EXPECT_TRUE(requests.empty());
  }
}

TEST_F(FileUploadTest, APortThatTakesNothingEndsTheUpload) {
  const std::wstring path = LocalFile("big.bin", std::string(4 << 20, 'z'));
  // The far end reads the request header and then nothing more.
  std::atomic<bool> done{false};
  PeerScript script([&] {
    std::uint8_t header[12];
    peer_.ReadExact(header, 12, 5000);
    while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    peer_.Purge();
  });
  const auto start = std::chrono::steady_clock::now();
  const Message result = UploadFile(path.c_str(), L"big.bin");
  done = true;
  script.Join();
  EXPECT_EQ(Text(result), Text(MSG_UPLOAD_FAILED));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

#ifndef _WIN32
// Natively only: under Wine the read-shared handle keeps the file from shrinking.
TEST_F(FileUploadTest, AFileThatShrinksWhileStreamingEndsTheUpload) {
  const fs::path path = dir_ / "shrinks.bin";
  WriteBytes(path, std::string(8 << 20, 's'));
  PeerScript script([&] {
    std::uint8_t header[12];
    peer_.ReadExact(header, 12, 5000);
    // By now the core is stuck writing; the file shrinks under it.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    fs::resize_file(path, 0);
    std::uint8_t sink[4096];
    while (peer_.Read(sink, sizeof sink, 500) > 0) {
    }
  });
  const Message result = UploadFile(path.wstring().c_str(), L"shrinks.bin");
  script.Join();
  EXPECT_EQ(Text(result), Text(MSG_UPLOAD_FAILED));
}
#endif

}  // namespace

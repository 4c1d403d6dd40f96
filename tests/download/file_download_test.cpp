// Downloading handset files: the dispatch over the selected rows, the echo
// check, streaming the content, and the local names and files.
#include <chrono>

#include "download/listing.h"
#include "tests/download/download_fixture.h"

namespace {

class FileDownloadTest : public DownloadTest {
 protected:
  void TearDown() override {
    DropRowView();
    DownloadTest::TearDown();
  }

  bool MakeListing(const std::vector<Row>& rows) {
    if (!UseRowView()) return false;
    FillRows(g_listView, rows);
    return true;
  }

  // Peer side: answers the next file request with its echo and content.
  void Serve(const std::string& expectedRequest, const std::string& content) {
    const ReceivedRequest r = Next();
    EXPECT_EQ(r.payload, expectedRequest);
    Send(3, 6, 2, r.payload + content);
  }
};

#define REQUIRE_LISTING(rows) \
  if (!MakeListing(rows)) GTEST_SKIP() << "no list view in this build"

TEST_F(FileDownloadTest, TwoRowsToAFolderEachUnderItsOwnName) {
  REQUIRE_LISTING((std::vector<Row>{{L"bookmark.txt", 5, false},
                                    {L"a.jpg", 0, true},
                                    {L"c.txt", 4, false},
                                    {L"b.mid", 1, true}}));
  PeerScript script([&] {
    Serve("a.jpg\timage\t", "JPEG bytes");
    Serve("b.mid\tmusic\t", std::string("MIDI\0\r\n", 7));
  });
  EXPECT_EQ(W(DownloadSelection(path)), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "a.jpg"), "JPEG bytes");
  EXPECT_EQ(ReadLocal(folder / "b.mid"), std::string("MIDI\0\r\n", 7));
  EXPECT_EQ(std::wstring(path), FilePath("b.mid"));
  EXPECT_EQ(Log(), (std::vector<std::string>{"3/6/2:a.jpg\timage\t", "3/6/2:b.mid\tmusic\t"}));
  EXPECT_TRUE(Quiet());
}

TEST_F(FileDownloadTest, FileDestinationTakesEverySelectedRow) {
  REQUIRE_LISTING((std::vector<Row>{{L"a.jpg", 0, true}, {L"b.mid", 1, true}}));
  SetPath(FilePath("x.jpg"));
  PeerScript script([&] {
    Serve("a.jpg\timage\t", "first");
    Serve("b.mid\tmusic\t", "second");
  });
  EXPECT_EQ(W(DownloadSelection(path)), W(nullptr));
  script.Join();
  // Asked for by the row's name, saved under the chosen one; the last row wins.
  EXPECT_EQ(ReadLocal(folder / "x.jpg"), "second");
  EXPECT_FALSE(fs::exists(folder / "a.jpg"));
  EXPECT_EQ(std::wstring(path), FilePath("x.jpg"));
}

TEST_F(FileDownloadTest, NothingSelectedSendsNothing) {
  REQUIRE_LISTING((std::vector<Row>{{L"bookmark.txt", 5, false}, {L"a.jpg", 0, false}}));
  EXPECT_EQ(W(DownloadSelection(path)), W(nullptr));
  EXPECT_TRUE(Quiet());
  EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(FileDownloadTest, FailureOnTheSecondOfThreeRowsStopsTheSelection) {
  REQUIRE_LISTING(
      (std::vector<Row>{{L"a.jpg", 0, true}, {L"b.jpg", 0, true}, {L"c.jpg", 0, true}}));
  PeerScript script([&] {
    Serve("a.jpg\timage\t", "one");
    Next();
    Send(3, 6, 2, "b.jpg\tother\tno such file");
  });
  EXPECT_EQ(W(DownloadSelection(path)), W(MSG_FILE_NOT_FOUND));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "a.jpg"), "one");
  EXPECT_FALSE(fs::exists(folder / "b.jpg"));
  EXPECT_EQ(Log().size(), 2u);
  EXPECT_TRUE(Quiet());  // c.jpg is never asked for
}

TEST_F(FileDownloadTest, FixedRowsGoToTheirOwnDownloads) {
  REQUIRE_LISTING((std::vector<Row>{{L"bookmark.txt", 5, true}, {L"address.txt", 6, true}}));
  PeerScript script([&] {
    Next();
    Send(2, 8, 1, "0");
    Next();
    Send(2, 3, 1, "0");
  });
  EXPECT_EQ(W(DownloadSelection(path)), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "bookmark.txt").size(), 50u);
  EXPECT_TRUE(fs::exists(folder / "address.txt"));
  EXPECT_EQ(Log(), (std::vector<std::string>{"2/8/1:", "2/3/1:"}));
}

TEST_F(FileDownloadTest, UnsafeRowNamesNeverLeaveTheFolder) {
  for (const WCHAR* name :
       {L"..", L".", L"", L"..\\evil.jpg", L"sub/evil.jpg", L"c:evil.jpg", L"a?b.jpg",
        L"tab\tname.jpg", L"...", L" . ", L"NUL", L"con.txt", L"Com1.jpg", L"lpt9"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(name)));
    REQUIRE_LISTING((std::vector<Row>{{name, 0, true}}));
    EXPECT_EQ(W(DownloadSelection(path)), W(MSG_CANNOT_WRITE));
    EXPECT_TRUE(Quiet(50));
  }
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_FALSE(fs::exists(folder.parent_path() / "evil.jpg"));
}

TEST_F(FileDownloadTest, NamesNearTheRefusedOnesAreFine) {
  REQUIRE_LISTING((std::vector<Row>{{L".profile", 4, true},
                                    {L"console.txt", 4, true},
                                    {L"com10.txt", 4, true},
                                    {L"a b.c.d", 4, true}}));
  PeerScript script([&] {
    Serve(".profile\tother\t", "1");
    Serve("console.txt\tother\t", "2");
    Serve("com10.txt\tother\t", "3");
    Serve("a b.c.d\tother\t", "4");
  });
  EXPECT_EQ(W(DownloadSelection(path)), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "a b.c.d"), "4");
}

TEST_F(FileDownloadTest, RowsAfterAGoodOneAreRefusedWhenTheirNameIsUnsafe) {
  REQUIRE_LISTING((std::vector<Row>{{L"a.jpg", 0, true}, {L"..", 0, true}}));
  PeerScript script([&] { Serve("a.jpg\timage\t", "ok"); });
  EXPECT_EQ(W(DownloadSelection(path)), W(MSG_CANNOT_WRITE));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "a.jpg"), "ok");
  EXPECT_TRUE(Quiet());
}

TEST_F(FileDownloadTest, FolderPlusNameBeyond259UnitsIsRefused) {
  // Pad the folder so that 250 units remain before MAX_PATH - 1.
  const std::size_t folderUnits = std::wcslen(path);
  ASSERT_LT(folderUnits, 200u);
  std::wstring name(259 - folderUnits, L'n');
  REQUIRE_LISTING((std::vector<Row>{{name + L"x", 0, true}}));
  EXPECT_EQ(W(DownloadSelection(path)), W(MSG_CANNOT_WRITE));
  EXPECT_TRUE(Quiet());
  EXPECT_EQ(path[folderUnits], 0);  // the folder is left as it was
}

TEST_F(FileDownloadTest, EchoOnlyGivesAnEmptyFile) {
  PeerScript script([&] { Serve("e.txt\tother\t", ""); });
  EXPECT_EQ(W(DownloadFile(FilePath("e.txt").c_str(), 4, L"e.txt")), W(nullptr));
  script.Join();
  ASSERT_TRUE(fs::exists(folder / "e.txt"));
  EXPECT_EQ(fs::file_size(folder / "e.txt"), 0u);
}

TEST_F(FileDownloadTest, ShortOrDifferentEchoLeavesTheOlderFileAlone) {
  WriteLocal(folder / "a.jpg", "older");
  const std::wstring target = FilePath("a.jpg");
  PeerScript script([&] {
    Next();
    Send(3, 6, 2, "a.jp");  // shorter than the request
    Next();
    Send(3, 6, 2, "a.jpg\tmusic\t" + Pattern(5000));  // other category, with content
    Next();
    Send(3, 6, 2, std::string("a.jpg\0image\t", 12));  // a zero byte where the TAB was
    Serve("a.jpg\timage\t", "newer");
  });
  EXPECT_EQ(W(DownloadFile(target.c_str(), 0, L"a.jpg")), W(MSG_FILE_NOT_FOUND));
  EXPECT_EQ(W(DownloadFile(target.c_str(), 0, L"a.jpg")), W(MSG_FILE_NOT_FOUND));
  EXPECT_EQ(W(DownloadFile(target.c_str(), 0, L"a.jpg")), W(MSG_FILE_NOT_FOUND));
  EXPECT_EQ(ReadLocal(folder / "a.jpg"), "older");
  // The discarded content left the link in step for the next request.
  EXPECT_EQ(W(DownloadFile(target.c_str(), 0, L"a.jpg")), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "a.jpg"), "newer");
}

TEST_F(FileDownloadTest, ContentOf10000BytesArrivesWhole) {
  const std::string content = Pattern(10000);
  PeerScript script([&] {
    Next();
    const auto frame = ResponseFrame(3, 6, 2, "big.bin\tother\t" + content);
    // In uneven pieces, so the reads come back short.
    std::size_t at = 0;
    for (std::size_t piece : {100u, 5000u, 3u, 4200u}) {
      peer.Write(frame.data() + at, piece);
      at += piece;
      PauseMs(20);
    }
    peer.Write(frame.data() + at, frame.size() - at);
  });
  EXPECT_EQ(W(DownloadFile(FilePath("big.bin").c_str(), 4, L"big.bin")), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "big.bin"), content);
}

TEST_F(FileDownloadTest, JapaneseNamesTravelInTheAnsiCodePage) {
  // "画像.jpg" in Shift-JIS.
  const std::string sjis = "\x89\xE6\x91\x9C.jpg";
  PeerScript script([&] { Serve(sjis + "\timage\t", "pixels"); });
  EXPECT_EQ(W(DownloadFile(FilePath("p.jpg").c_str(), 0, L"画像.jpg")), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "p.jpg"), "pixels");
}

TEST_F(FileDownloadTest, ANameTooLongForTheRequestIsNotAsked) {
  const std::wstring name(200, L'画');  // 400 bytes in Shift-JIS
  EXPECT_EQ(W(DownloadFile(FilePath("x").c_str(), 0, name.c_str())), W(MSG_FILE_NOT_FOUND));
  EXPECT_TRUE(Quiet());
}

// --- the link failing part-way -------------------------------------------

TEST_F(FileDownloadTest, SilentHandsetEndsEachReadWithItsMessage) {
  const std::wstring target = FilePath("s.bin");
  // No response at all.
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(W(DownloadFile(target.c_str(), 4, L"s.bin")), W(MSG_COMM_FILE));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  peer.Purge();

  // The header, then half the echo, then silence.
  PeerScript echo([&] {
    Next();
    const auto frame = ResponseFrame(3, 6, 2, "s.bin\tother\tcontent");
    peer.Write(frame.data(), 12 + 4);
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(W(DownloadFile(target.c_str(), 4, L"s.bin")), W(MSG_COMM_HEADER));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  echo.Join();
  EXPECT_FALSE(fs::exists(folder / "s.bin"));

  // The echo and part of the content, then silence: the older file stays as
  // it was, and nothing of the part that came.
  WriteLocal(folder / "s.bin", "older");
  PeerScript content([&] {
    Next();
    const auto frame = ResponseFrame(3, 6, 2, "s.bin\tother\t" + Pattern(6000));
    peer.Write(frame.data(), frame.size() - 1000);
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(W(DownloadFile(target.c_str(), 4, L"s.bin")), W(MSG_COMM_CONTENT));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  content.Join();
  EXPECT_EQ(ReadLocal(folder / "s.bin"), "older");
  EXPECT_EQ(Names(), std::vector<std::string>{"s.bin"});
}

TEST_F(FileDownloadTest, LengthFieldBelowFourIsACommunicationError) {
  PeerScript script([&] {
    Next();
    auto frame = ResponseFrame(3, 6, 2, "");
    frame[4] = 2;  // total 10: a payload of -2 bytes
    peer.Write(frame);
  });
  EXPECT_EQ(W(DownloadFile(FilePath("n.bin").c_str(), 4, L"n.bin")), W(MSG_COMM_FILE));
  script.Join();
  EXPECT_FALSE(fs::exists(folder / "n.bin"));
}

TEST_F(FileDownloadTest, UncreatableLocalFileIsReportedAfterTheContentIsRead) {
  const std::wstring target = FolderPath(folder / "missing") + L"a.jpg";
  PeerScript script([&] {
    Serve("a.jpg\timage\t", Pattern(9000));
    Serve("b.jpg\timage\t", "next");
  });
  EXPECT_EQ(W(DownloadFile(target.c_str(), 0, L"a.jpg")), W(MSG_CANNOT_WRITE));
  // Still in step: the next download finds its own echo.
  EXPECT_EQ(W(DownloadFile(FilePath("b.jpg").c_str(), 0, L"b.jpg")), W(nullptr));
  script.Join();
  EXPECT_EQ(ReadLocal(folder / "b.jpg"), "next");
}

#ifndef _WIN32
TEST_F(FileDownloadTest, FullDiskIsReportedAndTheLinkStaysInStep) {
  PeerScript script([&] {
    Serve("a.jpg\timage\t", Pattern(9000));
    Serve("b.jpg\timage\t", "next");
  });
  {
    FileSizeLimit limit(4096);
    EXPECT_EQ(W(DownloadFile(FilePath("a.jpg").c_str(), 0, L"a.jpg")), W(MSG_CANNOT_WRITE));
  }
  EXPECT_TRUE(Names().empty());  // the 4096 bytes that fitted went with their part file
  EXPECT_EQ(W(DownloadFile(FilePath("b.jpg").c_str(), 0, L"b.jpg")), W(nullptr));
  script.Join();
}
#else
TEST_F(FileDownloadTest, FullDiskIsReportedAndTheLinkStaysInStep) {
  if (!HaveFullDevice()) GTEST_SKIP() << "no full device";
  PeerScript script([&] {
    Serve("a.jpg\timage\t", Pattern(9000));
    Serve("b.jpg\timage\t", "next");
  });
  EXPECT_EQ(W(DownloadFile(kFullDevice, 0, L"a.jpg")), W(MSG_CANNOT_WRITE));
  EXPECT_EQ(W(DownloadFile(FilePath("b.jpg").c_str(), 0, L"b.jpg")), W(nullptr));
  script.Join();
}
#endif

}  // namespace

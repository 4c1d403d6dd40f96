// Downloading handset files: the dispatch over the selected rows, the echo
// check, streaming the content, and the local names and files.
#include <chrono>

#include "download/listing.h"
#include "download/local_names.h"
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

// A row whose name cannot be a file name here is saved all the same, under a
// replacement that stays in the folder, meets no row's name and no file the
// folder gives a meaning; the handset is asked for the row's own name.
TEST_F(FileDownloadTest, RefusedRowNamesAreSavedUnderAReplacement) {
  const struct {
    const WCHAR* name;
    const WCHAR* linux;  // saved as; null: under its own name
    const WCHAR* windows;
  } cases[] = {
      {L"..", L"__", L"__"},
      {L".", L"_", L"_"},
      {L"", L"_", L"_"},
      {L"..\\evil.jpg", L".._evil.jpg", L".._evil.jpg"},
      {L"sub/evil.jpg", L"sub_evil.jpg", L"sub_evil.jpg"},
      {L"tab\tname.jpg", L"tab_name.jpg", L"tab_name.jpg"},
      {L"c:evil.jpg", nullptr, L"c_evil.jpg"},
      {L"what?.txt", nullptr, L"what_~1.txt"},  // what_.txt is another row's name
      {L"q\"uote.txt", nullptr, L"q_uote.txt"},
      {L"x*y.txt", nullptr, L"x_y.txt"},
      {L"...", nullptr, L"___"},
      {L"a. ", nullptr, L"a__"},
      {L"NUL", nullptr, L"_NUL"},
      {L"con.txt", nullptr, L"_con.txt"},
      {L"Com1.jpg", nullptr, L"_Com1.jpg"},
      // Files of the folder's own: the bookmark, address and mail files, part files.
      {L"bookmark.txt", L"bookmark~1.txt", L"bookmark~1.txt"},
      {L"MAIL005.TXT", L"MAIL005~1.TXT", L"MAIL005~1.TXT"},
      {L"mail1000.txt", L"mail1000~1.txt", L"mail1000~1.txt"},
      {L".palvo-x.part", L"_.palvo-x.part", L"_.palvo-x.part"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
#ifdef _WIN32
    const WCHAR* savedAs = c.windows;
#else
    const WCHAR* savedAs = c.linux;
#endif
    REQUIRE_LISTING((std::vector<Row>{{c.name, 4, true}, {L"what_.txt", 4, false}}));
    SetPath(FolderPath(folder));
    char ansi[kPathUnits * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, c.name, -1, ansi, sizeof ansi, nullptr, nullptr);
    PeerScript script([&] { Serve(std::string(ansi) + "\tother\t", "content"); });
    EXPECT_EQ(W(DownloadSelection(path)), W(nullptr));
    script.Join();
    const std::wstring local = savedAs ? savedAs : c.name;
    EXPECT_EQ(ReadLocal(folder / fs::path(local)), "content");
    EXPECT_EQ(Names().size(), 1u);
    const WCHAR *row = nullptr, *as = nullptr;
    if (savedAs) {
      ASSERT_TRUE(RenamedRowAt(0, &row, &as));
      EXPECT_EQ(std::wstring(row), std::wstring(c.name));
      EXPECT_EQ(std::wstring(as), std::wstring(savedAs));
    }
    EXPECT_FALSE(RenamedRowAt(savedAs ? 1 : 0, &row, &as));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  EXPECT_FALSE(fs::exists(folder.parent_path() / "evil.jpg"));
}

// A row no name fits for is passed over and reported; the rows after it are
// downloaded in the same connection.
TEST_F(FileDownloadTest, ARowThatCannotBeSavedIsPassedOverAndTheRestGoOn) {
  // Room for 13 units of name in the folder: the first row's extension alone
  // takes 16.
  const std::size_t padding = 259 - 13 - FolderPath(folder).size() - 1;
  const fs::path there = folder / std::wstring(padding, L'f');
  fs::create_directories(there);
  const std::wstring longFolder = FolderPath(there);
  REQUIRE_LISTING((std::vector<Row>{
      {L"a.abcdefghijklmno", 4, true}, {L"b.jpg", 0, true}, {L"cccccccccccccccc.jpg", 0, true}}));
  SetPath(longFolder);
  PeerScript script([&] {
    Serve("b.jpg\timage\t", "b");
    Serve("cccccccccccccccc.jpg\timage\t", "c");
  });
  EXPECT_EQ(W(DownloadSelection(path)), W(MSG_NOT_SAVED));
  script.Join();
  EXPECT_EQ(ReadLocal(there / "b.jpg"), "b");
  EXPECT_EQ(ReadLocal(there / "ccccccccc.jpg"), "c");  // cut to fit, the extension kept
  const WCHAR *row = nullptr, *as = nullptr;
  ASSERT_TRUE(RenamedRowAt(0, &row, &as));
  EXPECT_EQ(std::wstring(row), L"a.abcdefghijklmno");
  EXPECT_EQ(as, nullptr);
  ASSERT_TRUE(RenamedRowAt(1, &row, &as));
  EXPECT_EQ(std::wstring(as), L"ccccccccc.jpg");
  EXPECT_EQ(Log().size(), 2u);  // the first row was never asked for
  EXPECT_TRUE(Quiet());
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

// Seconds since 1970 of a FILETIME.
long long UnixSeconds(const FILETIME& t) {
  const unsigned long long ticks =
      (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
}

TEST(ListingDateTest, TheDateColumnGivesTheTimeOrNothing) {
  const struct {
    const WCHAR* column;
    bool usable;
  } cases[] = {
      {L"2005/04/01 09:30", true},
      {L"2005-04-01T09:30 and more", true},
      {L"2005/04/01 09:3", false},
      {L"2005/13/01 09:30", false},
      {L"2005/02/30 09:30", false},
      {L"2005/04/01 24:00", false},
      {L"20050401 09:30:00", false},
      {L"ブックマーク", false},
      {L"", false},
      {L"2005/04/01 9:30x", false},
  };
  for (const auto& c : cases) {
    FILETIME t = {};
    EXPECT_EQ(ListingDateTime(c.column, &t), c.usable) << testing::PrintToString(c.column);
  }
  // Local time: an hour later on the clock is an hour later in UTC.
  FILETIME a, b;
  ASSERT_TRUE(ListingDateTime(L"2005/04/01 09:30", &a));
  ASSERT_TRUE(ListingDateTime(L"2005/04/01 10:30", &b));
  EXPECT_EQ(UnixSeconds(b) - UnixSeconds(a), 3600);
}

// The file keeps the handset's date as its last write time; a row without a
// usable date keeps the time of the download.
TEST_F(FileDownloadTest, DownloadedFilesKeepTheRowsDate) {
  REQUIRE_LISTING((std::vector<Row>{{L"dated.jpg", 0, true, L"2005/04/01 09:30"},
                                    {L"undated.jpg", 0, true, L"?"}}));
  FILETIME expected;
  ASSERT_TRUE(ListingDateTime(L"2005/04/01 09:30", &expected));
  PeerScript script([&] {
    Serve("dated.jpg\timage\t", "d");
    Serve("undated.jpg\timage\t", "u");
  });
  const auto before = std::chrono::system_clock::now() - std::chrono::minutes(1);
  EXPECT_EQ(W(DownloadSelection(path)), W(nullptr));
  script.Join();
  auto seconds = [](const fs::path& p) {
    const auto t = std::chrono::file_clock::to_sys(fs::last_write_time(p));
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
  };
  EXPECT_EQ(seconds(folder / "dated.jpg"), UnixSeconds(expected));
  EXPECT_GE(seconds(folder / "undated.jpg"),
            std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count());
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

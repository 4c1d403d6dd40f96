// Downloaded files go back into the handset unchanged: uploaded into an
// emptied handset and downloaded again, they come back byte for byte.
#include <algorithm>

#include "commands/commands.h"
#include "download/download.h"
#include "download/listing.h"
#include "link/login.h"
#include "tests/support/handset_peer.h"
#include "tests/support/row_view.h"
#include "upload/upload.h"
#include "upload_fixture.h"

namespace {

handset::Content Sample() {
  handset::Content c;
  c.files.push_back({"a.jpg", "image", "JPEGDATA", "2006/01/02 03:04"});
  c.bookmarks.push_back({3, 7, "A", "B"});
  c.bookmarks.push_back({0, 0, "\x83\x65\x83\x58\x83\x67 \x93\x56\x8B\x43", "http://x/?a=1&b=2"});
  c.bookmarks.push_back({19, 99, "last", "http://example.jp/"});
  c.addresses.push_back(
      "BEGIN:VCARD\r\nVERSION:2.1\r\nN:\x8E\x52\x93\x63;\x91\xBE\x98\x59\r\n"
      "TEL;CELL:09012345678\r\nEND:VCARD\r\n");
  c.addresses.push_back("BEGIN:VCARD\r\nN:a\r\n\r\nEND:VCARD\r\n");
  c.lightMails.push_back({true,
                          {"t1", "", "2007/01/02 03:04", "t4,with comma"},
                          "\x88\xEA\x8D\x73",
                          "",
                          "z\r\nzz\r\n"});
  handset::MailItem mail{false, {"m1", "m2", "m3", "m4"}, "", "", ""};
  for (int i = 0; i < 10000; ++i) mail.body += static_cast<char>(i % 3 == 0 ? '\n' : 'a' + i % 26);
  c.mails.push_back(mail);
  mail.header[3] = "empty body";
  mail.body.clear();
  c.mails.push_back(mail);
  return c;
}

class RoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    ASSERT_TRUE(hs_.ok());
    dir_ = MakeTempDir();
    ASSERT_EQ(Text(ConnectAndLogIn(hs_)), Text(nullptr));
  }
  void TearDown() override {
    EXPECT_TRUE(HangUp(hs_));
    EXPECT_TRUE(hs_->Violations().empty()) << hs_->Violations().front();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::wstring PathOf(const std::string& name) { return (dir_ / name).wstring(); }

  InProcessHandset hs_{Sample()};
  fs::path dir_;
};

TEST_F(RoundTripTest, BookmarkFile) {
  const std::wstring first = PathOf("bookmark.txt"), second = PathOf("again.txt");
  ASSERT_EQ(Text(DownloadBookmarks(first.c_str())), Text(nullptr));
  hs_->SetContent(handset::Content());
  EXPECT_EQ(Text(UploadBookmarks(first.c_str())), Text(nullptr));
  ASSERT_EQ(Text(DownloadBookmarks(second.c_str())), Text(nullptr));
  EXPECT_EQ(ReadBytes(dir_ / "again.txt"), ReadBytes(dir_ / "bookmark.txt"));
  EXPECT_EQ(hs_->GetContent().bookmarks.size(), 3u);
}

TEST_F(RoundTripTest, AddressFile) {
  const std::wstring first = PathOf("address.txt"), second = PathOf("again.txt");
  ASSERT_EQ(Text(DownloadAddressBook(first.c_str())), Text(nullptr));
  hs_->SetContent(handset::Content());
  EXPECT_EQ(Text(UploadAddressBook(first.c_str())), Text(nullptr));
  ASSERT_EQ(Text(DownloadAddressBook(second.c_str())), Text(nullptr));
  EXPECT_EQ(ReadBytes(dir_ / "again.txt"), ReadBytes(dir_ / "address.txt"));
  EXPECT_EQ(hs_->GetContent().addresses.size(), 2u);
}

TEST_F(RoundTripTest, EveryMailFile) {
  fs::create_directory(dir_ / "first");
  fs::create_directory(dir_ / "second");
  WCHAR folder[kPathUnits];
  const std::wstring firstFolder = (dir_ / "first").wstring() + L"\\";
  std::copy(firstFolder.c_str(), firstFolder.c_str() + firstFolder.size() + 1, folder);
  ASSERT_EQ(Text(DownloadMail(folder)), Text(nullptr));

  hs_->SetContent(handset::Content());
  for (const char* name : {"mail000.txt", "mail001.txt", "mail002.txt"}) {
    EXPECT_EQ(DefaultUploadKind(fs::path(name).wstring().c_str()), kUploadMail);
    EXPECT_EQ(Text(UploadMail((dir_ / "first" / name).wstring().c_str())), Text(nullptr)) << name;
  }
  const std::wstring secondFolder = (dir_ / "second").wstring() + L"\\";
  std::copy(secondFolder.c_str(), secondFolder.c_str() + secondFolder.size() + 1, folder);
  ASSERT_EQ(Text(DownloadMail(folder)), Text(nullptr));

  for (const char* name : {"mail000.txt", "mail001.txt", "mail002.txt"})
    EXPECT_EQ(ReadBytes(dir_ / "second" / name), ReadBytes(dir_ / "first" / name)) << name;
  EXPECT_FALSE(fs::exists(dir_ / "second" / "mail003.txt"));
}

TEST_F(RoundTripTest, OrdinaryFile) {
  const std::wstring local = PathOf("local.jpg");
  std::string data(20000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 31);
  WriteBytes(dir_ / "local.jpg", data);
  EXPECT_EQ(Text(UploadFile(local.c_str(), L"\x5199\x771F.jpg")), Text(nullptr));
  const std::wstring back = PathOf("back.jpg");
  ASSERT_EQ(Text(DownloadFile(back.c_str(), 0, L"\x5199\x771F.jpg")), Text(nullptr));
  EXPECT_EQ(ReadBytes(dir_ / "back.jpg"), data);
}

// The upload command's transfer, with the listing it fetches afterwards.
class RelistTest : public RoundTripTest {
 protected:
  void SetUp() override {
    RoundTripTest::SetUp();
    if (!UseRowView()) GTEST_SKIP() << "no list view in this build";
    g_connected = true;
  }
  void TearDown() override {
    DropRowView();
    RoundTripTest::TearDown();
  }
  int Rows() { return static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0)); }
  int CountQueries() {
    const auto log = hs_->Log();
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [](const auto& r) { return r.Is(2, 6, 1); }));
  }
};

TEST_F(RelistTest, SuccessFetchesTheListingAgain) {
  WriteBytes(dir_ / "new.png", "PNG");
  const std::wstring local = PathOf("new.png");
  EXPECT_EQ(Text(UploadAndRelist(kUploadFile, local.c_str(), L"new.png")), Text(nullptr));
  EXPECT_TRUE(g_connected);
  EXPECT_EQ(CountQueries(), 1);
  EXPECT_EQ(Rows(), 3 + 2);  // the fixed rows, a.jpg and the new file
}

TEST_F(RelistTest, FailureLeavesTheListingAlone) {
  hs_->RefuseUpload(8, 0);
  WriteBytes(dir_ / "bookmark.txt", "0\tA\tB\n");
  const std::wstring local = PathOf("bookmark.txt");
  EXPECT_EQ(Text(UploadAndRelist(kUploadBookmarks, local.c_str(), L"ignored")),
            Text(MSG_BOOKMARKS_INCOMPLETE));
  EXPECT_TRUE(g_connected);
  EXPECT_EQ(CountQueries(), 0);
  EXPECT_EQ(Rows(), 0);
}

TEST_F(RelistTest, FailedListingAfterAnUploadLeavesTheFlagClear) {
  handset::Fault silent;
  silent.action = handset::Fault::kSilence;
  silent.code = 2;
  silent.group = 6;
  silent.operation = 1;
  hs_->AddFault(silent);
  WriteBytes(dir_ / "mail000.txt", "X-PORIKA-MAIL: a,b,c,d\r\nbody");
  const std::wstring local = PathOf("mail000.txt");
  EXPECT_EQ(Text(UploadAndRelist(kUploadMail, local.c_str(), L"ignored")),
            Text(MSG_COMM_FILE_COUNT));
  EXPECT_FALSE(g_connected);
  EXPECT_EQ(hs_->GetContent().mails.size(), 3u);
}

}  // namespace

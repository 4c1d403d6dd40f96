// Whole downloads against the simulated handset: what lands in the folder is
// what the handset keeps, in the very formats of its own content folder.
#include <algorithm>
#include <cstdio>

#include "download/listing.h"
#include "handset/content.h"
#include "link/login.h"
#include "tests/download/download_fixture.h"
#include "tests/support/handset_peer.h"

namespace {

const fs::path kSample = fs::path(PALVO_SOURCE_DIR) / "handset" / "sample";

handset::Content SampleContent() {
  handset::Content content;
  std::string error;
  EXPECT_TRUE(handset::LoadContent(kSample, &content, &error)) << error;
  return content;
}

class HandsetDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    ASSERT_TRUE(hs.ok());
    folder = fs::temp_directory_path() /
             ("palvo-handset-download-" +
              std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::create_directories(folder);
    ASSERT_EQ(W(ConnectAndLogIn(hs)), W(nullptr));
  }
  void TearDown() override {
    EXPECT_TRUE(HangUp(hs));
    DropRowView();
    const auto violations = hs->Violations();
    EXPECT_TRUE(violations.empty()) << violations.front();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  InProcessHandset hs{SampleContent()};
  fs::path folder;
};

TEST_F(HandsetDownloadTest, EveryRowOfTheSampleComesBackAsTheHandsetKeepsIt) {
  if (!UseRowView()) GTEST_SKIP() << "no list view in this build";
  ASSERT_EQ(W(FetchListing()), W(nullptr));
  const int rows = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < rows; ++i) {
    LVITEMW state = {};
    state.stateMask = LVIS_SELECTED;
    state.state = LVIS_SELECTED;
    SendMessageW(g_listView, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
  }
  WCHAR path[kPathUnits];
  const std::wstring start = FolderPath(folder);
  std::wmemcpy(path, start.c_str(), start.size() + 1);
  ASSERT_EQ(W(DownloadSelection(path)), W(nullptr));

  EXPECT_EQ(ReadLocal(folder / "bookmark.txt"), ReadLocal(kSample / "bookmarks.txt"));
  EXPECT_EQ(ReadLocal(folder / "address.txt"), ReadLocal(kSample / "address.vcf"));
  // Light mails first, then mails, numbered across both.
  int number = 0;
  for (const char* box : {"lightmail", "mail"}) {
    std::vector<fs::path> sources;
    for (const auto& entry : fs::directory_iterator(kSample / box)) sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end());
    for (const auto& source : sources) {
      char name[16];
      std::snprintf(name, sizeof name, "mail%03d.txt", number++);
      EXPECT_EQ(ReadLocal(folder / name), ReadLocal(source)) << name << " from " << source;
    }
  }
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kSample / "files")) {
    if (!entry.is_regular_file()) continue;
    ++files;
    const auto name = entry.path().filename();
    EXPECT_EQ(ReadLocal(folder / name), ReadLocal(entry.path())) << name;
  }
  EXPECT_EQ(rows, 3 + files);
}

TEST_F(HandsetDownloadTest, ContentAndMailsInSmallPiecesAndAHandsetFallingSilent) {
  handset::Content content;
  content.files.push_back({"big.bin", "other", Pattern(20000), "2026/12/08 10:00"});
  const handset::MailItem mail{false, {"from", "date", "subject", "x"}, "", "", Pattern(10000, 5)};
  content.mails.push_back(mail);
  hs->SetContent(content);

  handset::Fault pieces;
  pieces.action = handset::Fault::kPieces;
  pieces.maxPiece = 1500;
  pieces.times = 2;
  pieces.group = 6;
  pieces.operation = 2;
  hs->AddFault(pieces);
  pieces.group = 5;
  hs->AddFault(pieces);

  const std::wstring big = FolderPath(folder) + L"big.bin";
  EXPECT_EQ(W(DownloadFile(big.c_str(), 4, L"big.bin")), W(nullptr));
  EXPECT_EQ(ReadLocal(folder / "big.bin"), content.files[0].data);
  WCHAR path[kPathUnits];
  const std::wstring start = FolderPath(folder) + L"mail???.txt";
  std::wmemcpy(path, start.c_str(), start.size() + 1);
  EXPECT_EQ(W(DownloadMail(path)), W(nullptr));
  EXPECT_EQ(ReadLocal(folder / "mail000.txt"),
            "X-PORIKA-MAIL: from,date,subject,x\r\n" + mail.body);

  handset::Fault silence;
  silence.action = handset::Fault::kSilence;
  silence.code = 3;
  silence.group = 6;
  silence.operation = 2;
  silence.at = 12 + 14 + 6000;  // header, echo, part of the content
  hs->AddFault(silence);
  EXPECT_EQ(W(DownloadFile(big.c_str(), 4, L"big.bin")), W(MSG_COMM_CONTENT));
  // The copy from before stays whole; the 6000 bytes that came went with
  // their part file.
  EXPECT_TRUE(ReadLocal(folder / "big.bin") == content.files[0].data);
  EXPECT_EQ(FileNames(folder), (std::vector<std::string>{"big.bin", "mail000.txt"}));
}

}  // namespace

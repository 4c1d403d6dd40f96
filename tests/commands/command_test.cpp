// The download and upload commands' steps around their dialogs: the proposed
// name, the destination forms, the last path and the kind a name suggests.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "commands/commands.h"
#include "download/listing.h"
#include "tests/support/row_view.h"
#include "tests/support/test_frontend.h"

namespace {

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetTestProcess();
    if (!UseRowView()) GTEST_SKIP() << "no list view in this build";
    g_connected = true;
  }
  void TearDown() override { DropRowView(); }

  void Fill(const std::vector<Row>& rows, int mark = -1) {
    FillRows(g_listView, rows);
    SendMessageW(g_listView, LVM_SETSELECTIONMARK, 0, mark);
  }

  // ProposeDownloadName's answer as "name|several", or "none".
  std::wstring Propose() {
    WCHAR name[kPathUnits];
    bool several = false;
    if (!ProposeDownloadName(name, &several)) return L"none";
    return std::wstring(name) + (several ? L"|several" : L"|one");
  }
};

const std::vector<Row> kListing = {{L"bookmark.txt", kIconBookmarks, false},
                                   {L"address.txt", kIconAddressBook, false},
                                   {L"mail???.txt", kIconMail, false},
                                   {L"a.jpg", 0, false},
                                   {L"b.mid", 1, false}};

std::vector<Row> Selecting(std::initializer_list<int> rows) {
  std::vector<Row> listing = kListing;
  for (int r : rows) listing[static_cast<std::size_t>(r)].selected = true;
  return listing;
}

TEST_F(CommandTest, NothingToDoWhenNotConnectedOrNothingSelected) {
  Fill(Selecting({3}), 3);
  g_connected = false;
  EXPECT_EQ(Propose(), L"none");
  g_connected = true;
  EXPECT_EQ(Propose(), L"a.jpg|one");

  SendMessageW(g_listView, LVM_DELETEALLITEMS, 0, 0);
  Fill(kListing);
  EXPECT_EQ(Propose(), L"none");
}

TEST_F(CommandTest, OneRowProposesItsNameExceptTheMailRow) {
  Fill(Selecting({4}), 4);
  EXPECT_EQ(Propose(), L"b.mid|one");
}

TEST_F(CommandTest, FixedRowsProposeTheirFileNames) {
  Fill(Selecting({0}), 0);
  EXPECT_EQ(Propose(), L"bookmark.txt|one");
  SendMessageW(g_listView, LVM_DELETEALLITEMS, 0, 0);
  Fill(Selecting({1}), 1);
  EXPECT_EQ(Propose(), L"address.txt|one");
}

TEST_F(CommandTest, MailRowAloneOrSeveralRowsGoToAFolder) {
  Fill(Selecting({2}), 2);
  EXPECT_EQ(Propose(), L"(ここに上書き)|several");
  SendMessageW(g_listView, LVM_DELETEALLITEMS, 0, 0);
  Fill(Selecting({3, 4}), 4);
  EXPECT_EQ(Propose(), L"(ここに上書き)|several");
}

TEST_F(CommandTest, MarkOffTheSelectedRowProposesTheSelectedRow) {
  // The mark on an unselected row, or on none: the row that will be
  // downloaded is the one named.
  Fill(Selecting({3}), 4);
  EXPECT_EQ(Propose(), L"a.jpg|one");
  SendMessageW(g_listView, LVM_DELETEALLITEMS, 0, 0);
  Fill(Selecting({2}), -1);
  EXPECT_EQ(Propose(), L"(ここに上書き)|several");
}

TEST_F(CommandTest, DestinationIsWholeForOneRowAndTheFolderForSeveral) {
  StoreDownloadDestination(L"\\My Documents\\x.jpg", false);
  EXPECT_EQ(std::wstring(g_lastPath), L"\\My Documents\\x.jpg");
  StoreDownloadDestination(L"\\My Documents\\(ここに上書き)", true);
  EXPECT_EQ(std::wstring(g_lastPath), L"\\My Documents\\");
  // No folder in the choice: no path rather than one file for every row.
  StoreDownloadDestination(L"whatever", true);
  EXPECT_EQ(std::wstring(g_lastPath), L"");
}

TEST_F(CommandTest, LastPathIsCutToItsFolderBeforeEachDialog) {
  EXPECT_FALSE(CutLastPathToFolder());  // empty at start: no initial folder
  EXPECT_EQ(std::wstring(g_lastPath), L"");
  std::wcscpy(g_lastPath, L"\\Data\\pics\\a.jpg");
  EXPECT_TRUE(CutLastPathToFolder());
  EXPECT_EQ(std::wstring(g_lastPath), L"\\Data\\pics\\");
  EXPECT_TRUE(CutLastPathToFolder());  // already a folder: unchanged
  EXPECT_EQ(std::wstring(g_lastPath), L"\\Data\\pics\\");
  std::wcscpy(g_lastPath, L"nofolder.txt");
  EXPECT_FALSE(CutLastPathToFolder());
  EXPECT_EQ(std::wstring(g_lastPath), L"nofolder.txt");
}

TEST_F(CommandTest, UploadSourceKeepsThePathAndNamesItsFile) {
  WCHAR name[kPathUnits];
  StoreUploadSource(L"\\My Documents\\bookmark.txt", name);
  EXPECT_EQ(std::wstring(g_lastPath), L"\\My Documents\\bookmark.txt");
  EXPECT_EQ(std::wstring(name), L"bookmark.txt");
  StoreUploadSource(L"plain.gif", name);
  EXPECT_EQ(std::wstring(name), L"plain.gif");
  // A choice longer than the buffer is cut, never overrun.
  const std::wstring longPath = L"\\" + std::wstring(400, L'x');
  StoreUploadSource(longPath.c_str(), name);
  EXPECT_EQ(std::wstring(g_lastPath).size(), static_cast<std::size_t>(kPathUnits - 1));
  EXPECT_EQ(std::wstring(name).size(), static_cast<std::size_t>(kPathUnits - 2));
}

TEST(ExtensionRule, DefaultKindFromTheLocalName) {
  EXPECT_EQ(DefaultUploadKind(L"BOOKMARK.TXT"), kUploadBookmarks);
  EXPECT_EQ(DefaultUploadKind(L"Address.txt"), kUploadAddressBook);
  EXPECT_EQ(DefaultUploadKind(L"mail007.txt"), kUploadMail);
  EXPECT_EQ(DefaultUploadKind(L"MAIL123.TXT"), kUploadMail);
  EXPECT_EQ(DefaultUploadKind(L"mail12.txt"), kUploadFile);
  EXPECT_EQ(DefaultUploadKind(L"mailabc.txt"), kUploadFile);
  EXPECT_EQ(DefaultUploadKind(L"mail0001.txt"), kUploadFile);
  EXPECT_EQ(DefaultUploadKind(L"mail"), kUploadFile);
  EXPECT_EQ(DefaultUploadKind(L"bookmark.txt.bak"), kUploadFile);
  EXPECT_EQ(DefaultUploadKind(L"photo.jpg"), kUploadFile);
}

// Folders made for a destination are the user's alone, whatever the umask:
// natively 0700; on Windows only the user and SYSTEM are on its list.
TEST(DestinationFolder, MadeFoldersAreTheOwnersAlone) {
  namespace fs = std::filesystem;
  const fs::path base =
      fs::temp_directory_path() /
      ("palvo-folder-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  ASSERT_TRUE(fs::create_directories(base));
  std::wstring made = (base / "a" / "b").wstring();
  for (auto& c : made)
    if (c == L'/') c = L'\\';
#ifndef _WIN32
  const mode_t before = ::umask(022);
#endif
  EXPECT_EQ(MakeDestinationFolder(made.c_str()), static_cast<DWORD>(ERROR_SUCCESS));
#ifndef _WIN32
  ::umask(before);
#endif
  for (const fs::path& folder : {base / "a", base / "a" / "b"}) {
    SCOPED_TRACE(folder.string());
#ifndef _WIN32
    struct stat st = {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
#else
    // Every entry of the folder's list is the user's or SYSTEM's (Wine
    // shows the list it keeps as the folder's mode: no protection bit).
    BYTE buffer[4096];
    DWORD needed = 0;
    ASSERT_TRUE(GetFileSecurityW(folder.wstring().c_str(), DACL_SECURITY_INFORMATION, buffer,
                                 sizeof buffer, &needed));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(buffer, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    HANDLE token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &needed));
    CloseHandle(token);
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize));
    EXPECT_GT(dacl->AceCount, 0);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      ASSERT_TRUE(GetAce(dacl, i, &ace));
      PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
      EXPECT_TRUE(EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user)->User.Sid) ||
                  EqualSid(sid, system))
          << "entry " << i;
    }
#endif
  }
  std::error_code ignored;
  fs::remove_all(base, ignored);
}

}  // namespace

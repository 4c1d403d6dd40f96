// Download and upload through the real file dialogs, and the upload
// destination dialog.
#include <algorithm>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>

#include "download/listing.h"
#include "link/messages.h"
#include "tests/ui/ui_fixture.h"
#include "ui/resource.h"

namespace {

constexpr const WCHAR kSaveTitle[] = L"保存するファイル";
constexpr const WCHAR kOpenTitle[] = L"転送するファイル";
constexpr const WCHAR kDestinationTitle[] = L"PHSファイル名";
constexpr const WCHAR kOverwriteHere[] = L"(ここに上書き)";

// What the save dialog proposed, then the path typed into it (or cancel).
std::wstring DescribeWindow(HWND window) {
  std::wstring out;
  WCHAR text[128], name[64];
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    GetClassNameW(child, name, 64);
    GetWindowTextW(child, text, 128);
    out += std::wstring(name) + L"#" + std::to_wstring(GetDlgCtrlID(child)) + L"=" + text +
           (IsWindowVisible(child) ? L" " : L"(hidden) ");
  }
  return out;
}

struct SaveAnswer {
  std::wstring proposed, diagnosis;
  std::unique_ptr<DialogPlayer> player;
  explicit SaveAnswer(std::wstring path, const WCHAR* title = kSaveTitle) {
    player = std::make_unique<DialogPlayer>(title, [this, path, title](HWND dialog) {
      // The save dialog always proposes a name: wait for it to be filled in.
      for (int i = 0; i < 500 && title == kSaveTitle && FileDialogName(dialog).empty(); ++i)
        Sleep(30);
      proposed = FileDialogName(dialog);
      if (proposed.empty()) diagnosis = DescribeWindow(dialog);
      if (path.empty())
        CancelDialog(dialog);
      else
        AcceptFileDialog(dialog, path);
    });
  }
  bool found() {
    player->Join();
    return player->found();
  }
};

struct DestinationState {
  int kind = -1;
  bool editEnabled = false;
  bool labelVisible = false;
  std::wstring label, name;
};

DestinationState ReadDestination(HWND dialog) {
  DestinationState s;
  s.kind = static_cast<int>(SendDlgItemMessageW(dialog, IDC_KIND_COMBO, CB_GETCURSEL, 0, 0));
  s.editEnabled = IsWindowEnabled(GetDlgItem(dialog, IDC_NAME_EDIT));
  s.labelVisible = IsWindowVisible(GetDlgItem(dialog, IDC_CATEGORY_LABEL));
  s.label = TextOf(GetDlgItem(dialog, IDC_CATEGORY_LABEL));
  WCHAR name[kPathUnits] = {};
  GetDlgItemTextW(dialog, IDC_NAME_EDIT, name, kPathUnits);
  s.name = name;
  return s;
}

void ChooseKind(HWND dialog, int index) {
  SendDlgItemMessageW(dialog, IDC_KIND_COMBO, CB_SETCURSEL, index, 0);
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_KIND_COMBO, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_KIND_COMBO)));
}

const handset::StoredFile* FindFile(const handset::Content& content, const std::string& name) {
  for (const handset::StoredFile& f : content.files)
    if (f.name == name) return &f;
  return nullptr;
}

class FileCommandTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    StartWindow();
    hs_ = std::make_unique<InProcessHandset>(SampleContent());
    FetchWithStoredPin(*hs_);
    // File dialogs open in a small folder of their own, not wherever the
    // test runs from.
    std::wcscpy(g_lastPath, (FreshFolder("start") + L"start.txt").c_str());
  }
  void TearDown() override {
    hs_.reset();
    UiTest::TearDown();
  }
  // Downloads the named rows through the save dialog answered with path.
  std::wstring Download(const std::vector<std::wstring>& rows, const std::wstring& path) {
    SelectRows(rows);
    const int goodbyes = Requests(*hs_, 255, 1, 2);
    SaveAnswer answer(path);
    SendMessageW(g_mainWindow, WM_COMMAND, IDC_DOWNLOAD, 0);
    EXPECT_TRUE(answer.found());
    EXPECT_EQ(answer.diagnosis, L"");
    if (!path.empty()) {
      EXPECT_TRUE(hs_->WaitForGoodbye(goodbyes + 1));
    }
    return answer.proposed;
  }
  // Uploads path through the open dialog; destination plays the second dialog.
  void Upload(const std::wstring& path, std::function<void(HWND)> destination) {
    SaveAnswer open(path, kOpenTitle);
    DialogPlayer player(kDestinationTitle, std::move(destination));
    SendMessageW(g_mainWindow, WM_COMMAND, IDC_UPLOAD, 0);
    EXPECT_TRUE(open.found());
    player.Join();
    EXPECT_TRUE(player.found());
  }
  std::unique_ptr<InProcessHandset> hs_;
};

}  // namespace

TEST_F(UiTest, DownloadAndUploadDoNothingWhileNotConnected) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  FetchWithStoredPin(hs);
  SelectRows({L"sky.png"});
  g_connected = false;
  hs->ClearLog();
  DialogPlayer save(
      kSaveTitle, [](HWND dialog) { CancelDialog(dialog); }, 1500);
  DialogPlayer open(
      kOpenTitle, [](HWND dialog) { CancelDialog(dialog); }, 1500);
  StatusWatcher watcher;
  EXPECT_EQ(SendMessageW(g_mainWindow, WM_COMMAND, IDC_DOWNLOAD, 0), 0);
  EXPECT_EQ(SendMessageW(g_mainWindow, WM_COMMAND, IDC_UPLOAD, 0), 0);
  save.Join();
  open.Join();
  watcher.Stop();
  EXPECT_FALSE(save.found());
  EXPECT_FALSE(open.found());
  EXPECT_TRUE(watcher.texts().empty());
  EXPECT_TRUE(hs->Log().empty());
}

TEST_F(FileCommandTest, NoSelectionDoesNothing) {
  SelectRows({});
  DialogPlayer save(
      kSaveTitle, [](HWND dialog) { CancelDialog(dialog); }, 1500);
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_DOWNLOAD, 0);
  save.Join();
  EXPECT_FALSE(save.found());
}

TEST_F(FileCommandTest, OneRowGoesToExactlyTheAcceptedFile) {
  const std::wstring dir = FreshFolder("one-row");
  const std::wstring target = dir + L"picture.dat";
  StatusWatcher watcher;
  EXPECT_EQ(Download({L"sky.png"}, target), L"sky.png");
  watcher.Stop();
  EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{MSG_BUSY});  // then closed at once
  EXPECT_FALSE(g_statusBox);
  EXPECT_EQ(std::wstring(g_lastPath), target);
  ASSERT_TRUE(FileExists(target));
  EXPECT_EQ(ReadBytes(target), FindFile((*hs_)->GetContent(), "sky.png")->data);
  EXPECT_FALSE(FileExists(dir + L"sky.png"));
}

TEST_F(FileCommandTest, BookmarkRowAloneUsesTheChosenPathWhole) {
  const std::wstring dir = FreshFolder("bookmark-row");
  EXPECT_EQ(Download({L"bookmark.txt"}, dir + L"marks.txt"), L"bookmark.txt");
  EXPECT_EQ(std::wstring(g_lastPath), dir + L"marks.txt");
  EXPECT_TRUE(FileExists(dir + L"marks.txt"));
}

TEST_F(FileCommandTest, SeveralRowsGoIntoTheFolderUnderTheirOwnNames) {
  const std::wstring dir = FreshFolder("several");
  EXPECT_EQ(Download({L"memo.txt", L"chime.mid", L"address.txt"}, dir + L"typed-anything"),
            kOverwriteHere);
  const handset::Content content = (*hs_)->GetContent();
  EXPECT_EQ(ReadBytes(dir + L"memo.txt"), FindFile(content, "memo.txt")->data);
  EXPECT_EQ(ReadBytes(dir + L"chime.mid"), FindFile(content, "chime.mid")->data);
  EXPECT_TRUE(FileExists(dir + L"address.txt"));
  EXPECT_FALSE(FileExists(dir + L"typed-anything"));
  EXPECT_EQ(std::wstring(g_lastPath).substr(0, dir.size()), dir);
}

// The message box that lists the rows saved under other names: its text,
// then OK, from another thread while the UI thread waits in it.
struct RenamedRowsBox {
  std::wstring text;
  std::thread thread;
  RenamedRowsBox() {
    thread = std::thread([this] {
      for (int i = 0; i < 750 && text.empty(); ++i) {
        struct Find {
          HWND box = nullptr;
          static BOOL CALLBACK Each(HWND window, LPARAM context) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            WCHAR name[16] = {};
            GetClassNameW(window, name, 16);
            if (process == GetCurrentProcessId() && std::wstring(name) == L"#32770" &&
                IsWindowVisible(window) && TextOf(window) == kTitle) {
              reinterpret_cast<Find*>(context)->box = window;
              return FALSE;
            }
            return TRUE;
          }
        } find;
        EnumWindows(&Find::Each, reinterpret_cast<LPARAM>(&find));
        if (!find.box) {
          Sleep(20);
          continue;
        }
        Sleep(200);
        WCHAR shown[1024] = {};
        GetDlgItemTextW(find.box, 0xFFFF, shown, 1024);
        text = shown[0] ? shown : L"(no text)";
        PostMessageW(find.box, WM_COMMAND, IDOK, 0);
      }
    });
  }
  ~RenamedRowsBox() { Join(); }
  void Join() {
    if (thread.joinable()) thread.join();
  }
};

// A row whose name Windows refuses is saved under a replacement, and a
// message box then lists it; the other rows are saved as ever.
TEST_F(FileCommandTest, RowsSavedUnderOtherNamesAreListedInAMessageBox) {
  handset::Content content = (*hs_)->GetContent();
  content.files.push_back({"a?b.txt", "other", "odd", "2026/12/09 10:00"});
  (*hs_)->SetContent(content);
  FetchWithStoredPin(*hs_);
  const std::wstring dir = FreshFolder("renamed");
  RenamedRowsBox box;
  EXPECT_EQ(Download({L"memo.txt", L"a?b.txt"}, dir + L"x"), kOverwriteHere);
  box.Join();
  EXPECT_EQ(box.text, std::wstring(MSG_SAVED_AS) + L"\n\n  a?b.txt -> a_b.txt\n");
  EXPECT_EQ(ReadBytes(dir + L"a_b.txt"), "odd");
  EXPECT_EQ(ReadBytes(dir + L"memo.txt"), FindFile(content, "memo.txt")->data);
}

TEST_F(FileCommandTest, MailRowAloneAsksForAFolder) {
  const std::wstring dir = FreshFolder("mail-row");
  EXPECT_EQ(Download({L"mail???.txt"}, dir + kOverwriteHere), kOverwriteHere);
  const handset::Content content = (*hs_)->GetContent();
  const std::size_t mails = content.lightMails.size() + content.mails.size();
  ASSERT_GT(mails, 0u);
  for (std::size_t i = 0; i < mails; ++i) {
    WCHAR name[16];
    swprintf(name, 16, L"mail%03u.txt", static_cast<unsigned>(i));
    EXPECT_TRUE(FileExists(dir + name)) << i;
  }
  EXPECT_FALSE(FileExists(dir + kOverwriteHere));
}

TEST_F(FileCommandTest, CancelledSaveLeavesTheLastPathCutToItsFolder) {
  const std::wstring dir = FreshFolder("cancel");
  std::wcscpy(g_lastPath, (dir + L"earlier.txt").c_str());
  (*hs_)->ClearLog();
  EXPECT_EQ(Download({L"memo.txt"}, L""), L"memo.txt");
  EXPECT_EQ(std::wstring(g_lastPath), dir);
  EXPECT_TRUE((*hs_)->Log().empty());
  // The next dialog opens there: accepting a bare name lands in that folder.
  Download({L"memo.txt"}, L"again.txt");
  EXPECT_EQ(std::wstring(g_lastPath), dir + L"again.txt");
  EXPECT_TRUE(FileExists(dir + L"again.txt"));
}

TEST_F(FileCommandTest, UploadOfAFileUnderTheEditedNameRefreshesTheListing) {
  const std::wstring dir = FreshFolder("upload-file");
  WriteBytes(dir + L"note.txt", "hello handset\r\n");
  const int listings = Requests(*hs_, 2, 6, 1);
  StatusWatcher watcher;
  DestinationState shown;
  Upload(dir + L"note.txt", [&](HWND dialog) {
    shown = ReadDestination(dialog);
    SetDlgItemTextW(dialog, IDC_NAME_EDIT, L"renamed.jpg");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  ASSERT_TRUE(hs_->WaitForGoodbye(2));
  watcher.Stop();
  EXPECT_EQ(shown.kind, 0);
  EXPECT_EQ(shown.name, L"note.txt");
  EXPECT_EQ(shown.label, L"その他");
  EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{MSG_BUSY});
  EXPECT_FALSE(g_statusBox);
  EXPECT_EQ(std::wstring(g_lastPath), dir + L"note.txt");

  const handset::StoredFile* stored = FindFile((*hs_)->GetContent(), "renamed.jpg");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->wire, "image");
  EXPECT_EQ(stored->data, "hello handset\r\n");
  EXPECT_EQ(Requests(*hs_, 2, 6, 1), listings + 1);
  EXPECT_TRUE(g_connected);
  const std::vector<std::wstring> names = RowNames();
  EXPECT_NE(std::find(names.begin(), names.end(), L"renamed.jpg"), names.end());
  EXPECT_TRUE((*hs_)->Violations().empty());
}

TEST_F(FileCommandTest, DownloadedBookmarksAddressesAndMailUploadByTheirKinds) {
  const std::wstring dir = FreshFolder("round-trip");
  Download({L"bookmark.txt", L"address.txt", L"mail???.txt"}, dir + L"x");
  ASSERT_TRUE(FileExists(dir + L"bookmark.txt"));
  ASSERT_TRUE(FileExists(dir + L"address.txt"));
  ASSERT_TRUE(FileExists(dir + L"mail001.txt"));

  struct Case {
    const WCHAR* file;
    int kind;
  };
  int goodbyes = Requests(*hs_, 255, 1, 2);
  for (const Case& c :
       {Case{L"bookmark.txt", 1}, Case{L"address.txt", 2}, Case{L"mail001.txt", 3}}) {
    SCOPED_TRACE(c.file);
    const int listings = Requests(*hs_, 2, 6, 1);
    StatusWatcher watcher;
    DestinationState shown;
    Upload(dir + c.file, [&](HWND dialog) {
      shown = ReadDestination(dialog);
      SetDlgItemTextW(dialog, IDC_NAME_EDIT, L"not-used.txt");
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    ASSERT_TRUE(hs_->WaitForGoodbye(++goodbyes));
    watcher.Stop();
    EXPECT_EQ(shown.kind, c.kind);
    EXPECT_FALSE(shown.editEnabled);
    EXPECT_FALSE(shown.labelVisible);
    EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{MSG_BUSY});
    EXPECT_EQ(Requests(*hs_, 2, 6, 1), listings + 1);  // the fresh listing
    EXPECT_TRUE(g_connected);
    EXPECT_FALSE(FindFile((*hs_)->GetContent(), "not-used.txt"));
  }
  EXPECT_TRUE((*hs_)->Violations().empty());
}

TEST_F(FileCommandTest, RefusedUploadKeepsTheFlagAndFetchesNoListing) {
  const std::wstring dir = FreshFolder("refused");
  WriteBytes(dir + L"note.txt", "x");
  (*hs_)->RefuseUpload(6, 0);
  const int listings = Requests(*hs_, 2, 6, 1);
  StatusWatcher watcher;
  Upload(dir + L"note.txt", [](HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDOK, 0); });
  ASSERT_TRUE(hs_->WaitForGoodbye(2));
  watcher.Stop();
  EXPECT_EQ(watcher.texts(), (std::vector<std::wstring>{MSG_BUSY, MSG_UPLOAD_FAILED}));
  EXPECT_EQ(watcher.boxes(), 1);
  EXPECT_EQ(Requests(*hs_, 2, 6, 1), listings);
  EXPECT_TRUE(g_connected);
}

TEST_F(FileCommandTest, CancelledDestinationKeepsTheWholeChosenPath) {
  const std::wstring dir = FreshFolder("cancel-destination");
  WriteBytes(dir + L"note.txt", "x");
  (*hs_)->ClearLog();
  Upload(dir + L"note.txt", [](HWND dialog) { CancelDialog(dialog); });
  EXPECT_EQ(std::wstring(g_lastPath), dir + L"note.txt");
  EXPECT_TRUE((*hs_)->Log().empty());
  // Cancelling the open dialog then cuts it to the folder.
  SaveAnswer open(L"", kOpenTitle);
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_UPLOAD, 0);
  EXPECT_TRUE(open.found());
  EXPECT_TRUE(open.proposed.empty());
  EXPECT_EQ(std::wstring(g_lastPath), dir);
}

TEST_F(UiTest, DestinationDialogProposesTheKindFromTheName) {
  g_instance = GetModuleHandleW(nullptr);
  struct Case {
    const WCHAR* name;
    int index;
  };
  for (const Case& c : {Case{L"BOOKMARK.TXT", 1}, Case{L"Address.txt", 2}, Case{L"mail007.txt", 3},
                        Case{L"MAIL123.TXT", 3}, Case{L"mail12.txt", 0}, Case{L"mailabc.txt", 0},
                        Case{L"mail0001.txt", 0}, Case{L"photo.png", 0}}) {
    SCOPED_TRACE(c.name);
    WCHAR name[kPathUnits];
    std::wcscpy(name, c.name);
    DestinationState shown;
    int height = 0;
    DialogPlayer player(kDestinationTitle, [&](HWND dialog) {
      shown = ReadDestination(dialog);
      RECT box = {}, list = {};
      GetWindowRect(GetDlgItem(dialog, IDC_KIND_COMBO), &box);
      SendDlgItemMessageW(dialog, IDC_KIND_COMBO, CB_GETDROPPEDCONTROLRECT, 0,
                          reinterpret_cast<LPARAM>(&list));
      height = list.bottom - box.top;
      CancelDialog(dialog);
    });
    EXPECT_EQ(RunDestinationDialog(name), 0);
    player.Join();
    ASSERT_TRUE(player.found());
    EXPECT_EQ(shown.kind, c.index);
    EXPECT_EQ(shown.name, c.name);
    EXPECT_EQ(shown.editEnabled, c.index == 0);
    EXPECT_EQ(shown.labelVisible, c.index == 0);
    EXPECT_GT(height, 150);      // dropped down: about 200 px, not the template's 12 units
    EXPECT_STREQ(name, c.name);  // cancel leaves the buffer alone
  }
}

TEST_F(UiTest, DestinationLabelFollowsTheNameAndTheKind) {
  g_instance = GetModuleHandleW(nullptr);
  WCHAR name[kPathUnits] = L"song.MID";
  std::vector<DestinationState> seen;
  DialogPlayer player(kDestinationTitle, [&](HWND dialog) {
    seen.push_back(ReadDestination(dialog));  // 0: as opened
    for (const WCHAR* typed : {L"photo.jpeg", L"page.html", L"me.vcf", L"x.zzz", L""}) {
      SetDlgItemTextW(dialog, IDC_NAME_EDIT, typed);
      seen.push_back(ReadDestination(dialog));  // 1..5
    }
    ChooseKind(dialog, 2);
    seen.push_back(ReadDestination(dialog));  // 6: address book
    ChooseKind(dialog, 0);
    seen.push_back(ReadDestination(dialog));  // 7: file again
    ChooseKind(dialog, 3);
    SetDlgItemTextW(dialog, IDC_NAME_EDIT, L"kept.txt");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  const int result = RunDestinationDialog(name);
  player.Join();
  ASSERT_EQ(seen.size(), 8u);
  EXPECT_EQ(seen[0].label, L"サウンド");
  EXPECT_EQ(seen[1].label, L"画像");
  EXPECT_EQ(seen[2].label, L"インターネット");
  EXPECT_EQ(seen[3].label, L"名刺");
  EXPECT_EQ(seen[4].label, L"その他");
  EXPECT_EQ(seen[5].label, L"その他");
  EXPECT_FALSE(seen[6].editEnabled);
  EXPECT_FALSE(seen[6].labelVisible);
  EXPECT_TRUE(seen[7].editEnabled);
  EXPECT_TRUE(seen[7].labelVisible);
  // OK with another kind still copies the edit into the name buffer.
  EXPECT_EQ(result, 4);
  EXPECT_STREQ(name, L"kept.txt");
}

namespace {
LRESULT CALLBACK RefuseDestination(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const WCHAR* title = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->lpszName;
    if (title && !IS_INTRESOURCE(title) && std::wcscmp(title, kDestinationTitle) == 0) return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
}  // namespace

// A destination dialog that cannot even be created gives -1: no kind, no upload.
TEST_F(FileCommandTest, DestinationDialogThatCannotRunUploadsNothing) {
  const std::wstring dir = FreshFolder("no-destination");
  WriteBytes(dir + L"note.txt", "x");
  (*hs_)->ClearLog();
  HHOOK hook = SetWindowsHookExW(WH_CBT, RefuseDestination, nullptr, GetCurrentThreadId());
  SaveAnswer open(dir + L"note.txt", kOpenTitle);
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_UPLOAD, 0);
  UnhookWindowsHookEx(hook);
  EXPECT_TRUE(open.found());
  Sleep(300);
  EXPECT_TRUE((*hs_)->Log().empty());
  EXPECT_TRUE(g_connected);
  EXPECT_FALSE(FindFile((*hs_)->GetContent(), "note.txt"));
}

// The window procedure's commands against the simulated handset, the status
// box and the PIN dialog, and one click on the real toolbar.
#include <chrono>
#include <string>

#include "link/frontend.h"
#include "link/messages.h"
#include "link/pin_store.h"
#include "tests/ui/ui_fixture.h"
#include "ui/resource.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

const std::vector<std::wstring> kFixedRows = {L"bookmark.txt", L"address.txt", L"mail???.txt"};

}  // namespace

TEST_F(UiTest, GetListingFillsTheListAndShowsNothing) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  StatusWatcher watcher;
  FetchWithStoredPin(hs);
  watcher.Stop();
  EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{});
  EXPECT_EQ(watcher.boxes(), 0);
  EXPECT_FALSE(g_statusBox);

  const std::vector<ListRow> rows = ReadListing();
  const std::size_t files = hs->GetContent().files.size();
  ASSERT_EQ(rows.size(), 3 + files);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(rows[i].name, kFixedRows[i]);
    EXPECT_EQ(rows[i].icon, 5 + i);
  }
  EXPECT_EQ(rows[0].date, L"ブックマーク");
  // Newest first, as the dates show them.
  for (std::size_t i = 4; i < rows.size(); ++i) EXPECT_GE(rows[i - 1].date, rows[i].date);
  EXPECT_TRUE(hs->Violations().empty());
}

TEST_F(UiTest, PinDialogAsksWhenNoPinIsStored) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  ASSERT_TRUE(hs.ok());
  RegisterHandset(hs, false);
  bool masked = false;
  HWND owner = nullptr;
  DialogPlayer player(L"暗証番号", [&](HWND dialog) {
    HWND edit = GetDlgItem(dialog, IDC_PIN_EDIT);
    masked = (GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) != 0;
    owner = GetWindow(dialog, GW_OWNER);
    SetWindowTextW(edit, L"1234");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_GET_LISTING, 0);
  player.Join();
  ASSERT_TRUE(player.found());
  EXPECT_TRUE(masked);
  EXPECT_EQ(owner, g_mainWindow);
  EXPECT_TRUE(g_connected);
  EXPECT_EQ(RowNames().size(), 3 + hs->GetContent().files.size());
  // Confirmed: kept for next time.
  g_currentPin = kNoPin;
  ReadStoredPin();
  EXPECT_EQ(g_currentPin, 1234u);
}

TEST_F(UiTest, PinDialogReadsTheNumberAsTyped) {
  g_instance = GetModuleHandleW(nullptr);
  struct Case {
    const WCHAR* typed;
    DWORD pin;
  };
  for (const Case& c : {Case{L"", 0}, Case{L"0042", 42}, Case{L"123456", 123456}}) {
    DialogPlayer player(L"暗証番号", [&](HWND dialog) {
      SetDlgItemTextW(dialog, IDC_PIN_EDIT, c.typed);
      PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    g_currentPin = kNoPin;
    EXPECT_EQ(AskPin(nullptr), 1);
    EXPECT_EQ(g_currentPin, c.pin) << c.typed;
  }
  DialogPlayer cancel(L"暗証番号", [](HWND dialog) { CancelDialog(dialog); });
  g_currentPin = 77;
  EXPECT_EQ(AskPin(nullptr), 0);
  EXPECT_EQ(g_currentPin, 77u);
}

TEST_F(UiTest, CancelledPinEndsTheCommandSilently) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  FetchWithStoredPin(hs);
  RegisterHandset(hs, false);
  hs->ClearLog();
  StatusWatcher watcher;
  DialogPlayer player(L"暗証番号", [](HWND dialog) { CancelDialog(dialog); });
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_GET_LISTING, 0);
  player.Join();
  Sleep(200);
  watcher.Stop();
  ASSERT_TRUE(player.found());
  EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{});
  EXPECT_EQ(watcher.boxes(), 0);
  EXPECT_FALSE(g_connected);
  EXPECT_TRUE(RowNames().empty());
  EXPECT_TRUE(hs->Log().empty());
}

// Refuses to create any dialog window of this thread, as a system short of
// memory or handles would.
LRESULT CALLBACK NoDialogs(int code, WPARAM wParam, LPARAM lParam) {
  WCHAR name[16] = {};
  if (code == HCBT_CREATEWND && GetClassNameW(reinterpret_cast<HWND>(wParam), name, 16) &&
      std::wstring(name) == L"#32770")
    return 1;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(UiTest, APinDialogThatCannotBeShownCountsAsCancelled) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  RegisterHandset(hs, false);
  hs->ClearLog();
  HHOOK hook = SetWindowsHookExW(WH_CBT, NoDialogs, nullptr, GetCurrentThreadId());
  ASSERT_TRUE(hook);
  g_currentPin = 77;
  EXPECT_EQ(AskPin(g_mainWindow), 0);
  EXPECT_EQ(g_currentPin, 77u);
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_GET_LISTING, 0);
  UnhookWindowsHookEx(hook);
  // Nothing stored, nothing sent: no "0000" in the handset's log.
  g_currentPin = kNoPin;
  ReadStoredPin();
  EXPECT_EQ(g_currentPin, kNoPin);
  EXPECT_FALSE(g_connected);
  EXPECT_TRUE(hs->Log().empty());
}

TEST_F(UiTest, MissingHandsetEmptiesTheListClearsTheFlagAndSaysSo) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  FetchWithStoredPin(hs);
  ASSERT_FALSE(RowNames().empty());
  ClearDrivers();
  hs->ClearLog();
  StatusWatcher watcher;
  const auto start = Clock::now();
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_GET_LISTING, 0);
  EXPECT_GE(MsSince(start), 1400);
  watcher.Stop();
  EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{MSG_HANDSET_NOT_FOUND});
  EXPECT_FALSE(g_statusBox);
  EXPECT_FALSE(g_connected);
  EXPECT_TRUE(RowNames().empty());
  Sleep(300);
  EXPECT_TRUE(hs->Log().empty());  // no goodbye without an open port
}

TEST_F(UiTest, RefusedPinStillSaysGoodbyeBeforeTheMessage) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  ASSERT_TRUE(hs.ok());
  RegisterHandset(hs, true);
  hs->OverrideReply(1, 2, 1, "NG");
  StatusWatcher watcher;
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_GET_LISTING, 0);
  watcher.Stop();
  EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{MSG_WRONG_PIN});
  EXPECT_TRUE(hs.WaitForGoodbye(1, 3000));
  EXPECT_EQ(Requests(hs, 2, 6, 1), 0);  // no listing asked for
  EXPECT_FALSE(g_connected);
}

TEST_F(UiTest, UnknownCommandsAreSwallowed) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  FetchWithStoredPin(hs);
  const std::vector<std::wstring> before = RowNames();
  for (WPARAM id : {0, 1, 117, 40015, 40020, 40030, 0xF060})
    EXPECT_EQ(SendMessageW(g_mainWindow, WM_COMMAND, id, 0), 0) << id;
  EXPECT_TRUE(IsWindow(g_mainWindow));
  EXPECT_EQ(RowNames(), before);
  EXPECT_TRUE(g_connected);
}

TEST_F(UiTest, CloseCommandDestroysTheWindowAndPostsQuitZero) {
  StartWindow();
  EXPECT_EQ(SendMessageW(g_mainWindow, WM_COMMAND, IDC_CLOSE, 0), 0);
  EXPECT_FALSE(IsWindow(g_mainWindow));
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(message.wParam, 0u);
}

TEST_F(UiTest, StatusBoxIsReusedAndShowsResultsFor1500Ms) {
  StartWindow();
  // Keep-open: the box stays with the text.
  ShowStatus(MSG_BUSY, kKeepOpenMode);
  HWND busy = g_statusBox;
  ASSERT_TRUE(busy);
  EXPECT_TRUE(IsWindowVisible(busy));
  EXPECT_EQ(TextOf(GetDlgItem(busy, IDC_STATUS_TEXT)), MSG_BUSY);
  EXPECT_TRUE(GetWindowLongW(busy, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(GetWindowLongW(busy, GWL_STYLE) & WS_CAPTION);

  // A result replaces the text in the same box, stays 1500 ms, then closes.
  {
    StatusWatcher watcher;
    const auto start = Clock::now();
    ShowStatus(MSG_UPLOAD_FAILED, kResultMode);
    const long long ms = MsSince(start);
    watcher.Stop();
    EXPECT_GE(ms, 1490);
    EXPECT_LT(ms, 15000);  // a safety net: it closes
    EXPECT_EQ(watcher.boxes(), 1);
    EXPECT_EQ(watcher.texts().back(), MSG_UPLOAD_FAILED);
  }
  EXPECT_FALSE(IsWindow(busy));
  EXPECT_FALSE(g_statusBox);

  // No text, or an empty one, closes an open box at once.
  for (const WCHAR* none : {static_cast<const WCHAR*>(nullptr), L""}) {
    ShowStatus(MSG_BUSY, kKeepOpenMode);
    HWND box = g_statusBox;
    const auto start = Clock::now();
    ShowStatus(none, kResultMode);
    EXPECT_LT(MsSince(start), 1400);  // not the 1500 ms a result stays
    EXPECT_FALSE(IsWindow(box));
    EXPECT_FALSE(g_statusBox);
  }
  // ... and with no box open does nothing.
  ShowStatus(nullptr, kResultMode);
  EXPECT_FALSE(g_statusBox);

  // A result with no box open makes one for the 1500 ms.
  StatusWatcher watcher;
  const auto start = Clock::now();
  ShowStatus(MSG_WRONG_PIN, kResultMode);
  EXPECT_GE(MsSince(start), 1490);
  watcher.Stop();
  EXPECT_EQ(watcher.boxes(), 1);
  EXPECT_EQ(watcher.texts(), std::vector<std::wstring>{MSG_WRONG_PIN});
  EXPECT_FALSE(g_statusBox);
}

// Black box: the user clicks the get-listing button of the real toolbar (an X
// click from xdotool) and the rows appear.
TEST_F(UserInputTest, ClickOnTheToolbarGetsTheListing) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  ASSERT_TRUE(hs.ok());
  RegisterHandset(hs, true);
  SetForegroundWindow(g_mainWindow);
  Pump(300);
  RECT button;
  const LRESULT index = SendMessageW(g_bar, TB_COMMANDTOINDEX, IDC_GET_LISTING, 0);
  ASSERT_TRUE(SendMessageW(g_bar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&button)));
  POINT centre = {(button.left + button.right) / 2, (button.top + button.bottom) / 2};
  ClientToScreen(g_bar, &centre);

  std::wstring command = L"xdotool mousemove --sync " + std::to_wstring(centre.x) + L" " +
                         std::to_wstring(centre.y) + L" click 1";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\usr\\bin\\xdotool", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process))
    MISSING_PREREQUISITE() << "xdotool cannot be started";
  Pump(15000, [] { return g_connected; });
  WaitForSingleObject(process.hProcess, 5000);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  ASSERT_TRUE(g_connected);
  const std::vector<std::wstring> names = RowNames();
  ASSERT_EQ(names.size(), 3 + hs->GetContent().files.size());
  EXPECT_EQ(std::vector<std::wstring>(names.begin(), names.begin() + 3), kFixedRows);
}

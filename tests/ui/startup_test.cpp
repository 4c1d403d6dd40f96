// Start-up and the main window: columns, bar, images, placement, one instance,
// the fatal messages and the accelerator.
#include <functional>
#include <string>

#include "tests/ui/ui_fixture.h"
#include "ui/commandbar.h"
#include "ui/desktop.h"
#include "ui/resource.h"

namespace {

int ColumnWidth(int column) {
  return static_cast<int>(SendMessageW(g_listView, LVM_GETCOLUMNWIDTH, column, 0));
}

RECT RectInMainWindow(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, g_mainWindow, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// 16x16 pixels of whatever draw paints on the button face.
std::vector<DWORD> Pixels(const std::function<void(HDC)>& draw) {
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, -16, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all = {0, 0, 16, 16};
  FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  draw(dc);
  GdiFlush();
  std::vector<DWORD> pixels(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + 256);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return pixels;
}

std::vector<DWORD> IconPixels(int id) {
  return Pixels([id](HDC dc) {
    HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
    DrawIconEx(dc, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
    DestroyIcon(icon);
  });
}

std::vector<DWORD> ImagePixels(HIMAGELIST images, int index) {
  return Pixels([images, index](HDC dc) { ImageList_Draw(images, index, dc, 0, 0, ILD_NORMAL); });
}

struct ChildProcess {
  PROCESS_INFORMATION info = {};
  bool started = false;
  explicit ChildProcess(std::wstring commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &info);
  }
  ~ChildProcess() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 9);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  // Waits (handling this thread's messages meanwhile); the exit code or -1.
  long Wait(int timeoutMs) {
    Pump(timeoutMs, [this] { return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0; });
    DWORD code = 0;
    if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) return -1;
    GetExitCodeProcess(info.hProcess, &code);
    return static_cast<long>(code);
  }
};

struct ProcessWindow {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindMessageBox(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<ProcessWindow*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  WCHAR name[16] = {};
  GetClassNameW(window, name, 16);
  if (process == search->process && std::wstring(name) == L"#32770" && IsWindowVisible(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

bool HasIcon(HWND box) {
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) return true;
  }
  return false;
}

BOOL CALLBACK CountMainWindows(HWND window, LPARAM context) {
  WCHAR name[16] = {};
  GetClassNameW(window, name, 16);
  if (std::wstring(name) == kClassName) ++*reinterpret_cast<int*>(context);
  return TRUE;
}

}  // namespace

TEST_F(UiTest, ColumnWidthsSwitchAboveTheirThresholds) {
  struct Case {
    int width, name, size, date;
  };
  for (const Case& c : {Case{240, 122, 48, 56}, Case{241, 200, 48, 160}, Case{640, 200, 48, 160},
                        Case{641, 200, 72, 160}}) {
    SCOPED_TRACE(c.width);
    StartWindow(c.width);
    RECT frame;
    GetWindowRect(g_mainWindow, &frame);
    ASSERT_EQ(frame.right - frame.left, c.width);
    EXPECT_EQ(ColumnWidth(0), c.name);
    EXPECT_EQ(ColumnWidth(1), c.size);
    EXPECT_EQ(ColumnWidth(2), c.date);
    TearDown();
    SetUp();
  }
}

TEST_F(UiTest, ColumnsHaveTheirHeadersAndFormats) {
  StartWindow();
  const WCHAR* headers[] = {L"名前", L"サイズ", L"更新日時"};
  const int formats[] = {LVCFMT_LEFT | LVCFMT_IMAGE, LVCFMT_RIGHT, LVCFMT_LEFT};
  for (int i = 0; i < 3; ++i) {
    WCHAR text[32] = {};
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = 32;
    ASSERT_TRUE(SendMessageW(g_listView, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ(text, headers[i]);
    EXPECT_EQ(column.fmt & (LVCFMT_JUSTIFYMASK | LVCFMT_IMAGE), formats[i]);
  }
  EXPECT_EQ(GetDlgCtrlID(g_listView), IDC_LISTING);
  const LONG style = GetWindowLongW(g_listView, GWL_STYLE);
  EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
}

TEST_F(UiTest, BarHoldsTheMenuThenTheButtonsInOrder) {
  StartWindow();
  ASSERT_FALSE(g_shell);
  ASSERT_EQ(SendMessageW(g_bar, TB_BUTTONCOUNT, 0, 0), 7);
  struct Expected {
    bool separator;
    int bitmap, command;
  };
  const Expected expected[] = {{true, -1, 0},
                               {false, 0, IDC_GET_LISTING},
                               {true, -1, 0},
                               {false, 1, IDC_DOWNLOAD},
                               {false, 2, IDC_UPLOAD}};
  TBBUTTON button = {};
  ASSERT_TRUE(SendMessageW(g_bar, TB_GETBUTTON, 0, reinterpret_cast<LPARAM>(&button)));
  EXPECT_EQ(button.idCommand, IDM_MAIN);  // the menu, at position 0
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i + 1);
    ASSERT_TRUE(SendMessageW(g_bar, TB_GETBUTTON, i + 1, reinterpret_cast<LPARAM>(&button)));
    EXPECT_EQ((button.fsStyle & BTNS_SEP) != 0, expected[i].separator);
    EXPECT_EQ(button.idCommand, expected[i].command);
    if (!expected[i].separator) {
      EXPECT_EQ(button.iBitmap, expected[i].bitmap);
    }
    EXPECT_TRUE(button.fsState & TBSTATE_ENABLED);
  }
  ASSERT_TRUE(SendMessageW(g_bar, TB_GETBUTTON, 6, reinterpret_cast<LPARAM>(&button)));
  EXPECT_EQ(button.idCommand, kCloseBoxCommand);  // the close box comes last

  // Bitmap images 0, 1, 2 are the icons 112, 113, 114.
  HIMAGELIST images = reinterpret_cast<HIMAGELIST>(SendMessageW(g_bar, TB_GETIMAGELIST, 0, 0));
  ASSERT_TRUE(images);
  ASSERT_EQ(ImageList_GetImageCount(images), 3);
  const int icons[] = {IDI_GET_LISTING, IDI_DOWNLOAD, IDI_UPLOAD};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ImagePixels(images, i), IconPixels(icons[i])) << i;
}

TEST_F(UiTest, ListImagesComeInTheFixedIconOrder) {
  StartWindow();
  HIMAGELIST images =
      reinterpret_cast<HIMAGELIST>(SendMessageW(g_listView, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ASSERT_TRUE(images);
  ASSERT_EQ(ImageList_GetImageCount(images), 8);
  const int icons[] = {IDI_IMAGE, IDI_MUSIC,     IDI_NET,          IDI_CARD,
                       IDI_OTHER, IDI_BOOKMARKS, IDI_ADDRESS_BOOK, IDI_MAIL};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ImagePixels(images, i), IconPixels(icons[i])) << i;
  // Every icon is drawn: none is the bare button face.
  const std::vector<DWORD> blank = Pixels([](HDC) {});
  for (int id : {IDI_PROGRAM, IDI_GET_LISTING, IDI_DOWNLOAD, IDI_UPLOAD})
    EXPECT_NE(IconPixels(id), blank) << id;
}

TEST_F(UiTest, CommandBarKeepsTheListBelowItOnResize) {
  StartWindow();
  ASSERT_EQ(GetDlgCtrlID(g_bar), IDC_COMMAND_BAR);
  RECT bar;
  GetWindowRect(g_bar, &bar);
  const int h = bar.bottom - bar.top;
  ASSERT_GT(h, 0);
  EXPECT_EQ(RectInMainWindow(g_listView).top, h);

  EXPECT_EQ(SendMessageW(g_mainWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200)), 0);
  const RECT list = RectInMainWindow(g_listView);
  EXPECT_EQ(list.left, 0);
  EXPECT_EQ(list.top, h);
  EXPECT_EQ(list.right, 300);
  EXPECT_EQ(list.bottom, 200);
}

TEST_F(UiTest, ShellMenuBarAtAPositiveTopEdgeLeavesTheListAlone) {
  g_shellStandIn = PALVO_SHELL_DIR L"\\aygshell.dll";
  StartWindow(400, 50);
  ASSERT_TRUE(g_shell);
  ASSERT_TRUE(g_bar);
  EXPECT_EQ(GetDlgCtrlID(g_bar), IDR_MENUBAR);
  // The menu bar got the File popup of menu 102 for its button.
  HMENU popup = static_cast<HMENU>(GetPropW(g_bar, L"PalvoTestSubMenu"));
  ASSERT_TRUE(popup);
  EXPECT_EQ(GetMenuItemID(popup, 0), static_cast<UINT>(IDC_GET_LISTING));
  // Buttons after the menu, and no close box.
  EXPECT_EQ(SendMessageW(g_bar, TB_BUTTONCOUNT, 0, 0), 5);
  RECT list = RectInMainWindow(g_listView);
  EXPECT_EQ(list.top, 0);

  SendMessageW(g_mainWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(300, 200));
  const RECT after = RectInMainWindow(g_listView);
  EXPECT_EQ(after.top, list.top);
  EXPECT_EQ(after.bottom, list.bottom);
  EXPECT_EQ(after.right, list.right);
}

TEST_F(UiTest, TopEdgeZeroUsesTheCommandBarEvenWithTheShell) {
  g_shellStandIn = PALVO_SHELL_DIR L"\\aygshell.dll";
  StartWindow(400, 0);
  EXPECT_FALSE(g_shell);
  EXPECT_EQ(GetDlgCtrlID(g_bar), IDC_COMMAND_BAR);
}

TEST_F(UiTest, SecondStartBringsTheFirstForwardAndEndsWithOne) {
  StartWindow();
  ChildProcess second(L"\"" PALVO_EXE L"\"");
  ASSERT_TRUE(second.started);
  EXPECT_EQ(second.Wait(20000), 1);
  int windows = 0;
  EnumWindows(CountMainWindows, reinterpret_cast<LPARAM>(&windows));
  EXPECT_EQ(windows, 1);
}

TEST_F(UiTest, FatalStartMessagesEndTheProgramWithZero) {
  for (const WCHAR* which : {L"register", L"wbase"}) {
    SCOPED_TRACE(which);
    ChildProcess probe(std::wstring(L"\"" PALVO_FATAL_PROBE L"\" ") + which);
    ASSERT_TRUE(probe.started);
    ProcessWindow search = {probe.info.dwProcessId, nullptr};
    for (int i = 0; i < 500 && !search.found; ++i) {
      EnumWindows(FindMessageBox, reinterpret_cast<LPARAM>(&search));
      if (!search.found) Sleep(20);
    }
    ASSERT_TRUE(search.found);
    EXPECT_EQ(TextOf(search.found), L"Palvo");
    WCHAR text[64] = {};
    GetDlgItemTextW(search.found, 0xFFFF, text, 64);
    EXPECT_EQ(std::wstring(text), std::wstring(L"Failed. (") + which + L")");
    EXPECT_TRUE(HasIcon(search.found));
    PostMessageW(search.found, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(probe.Wait(10000), 0);
  }
}

TEST_F(UserInputTest, AltF4ClosesTheWindowAndTheLoopEndsWithZero) {
  StartWindow();
  SetForegroundWindow(g_mainWindow);
  Pump(200);
  // A stuck loop would hang the test: it gives up after 10 s with 99.
  SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });
  INPUT keys[4] = {};
  const WORD order[4][2] = {
      {VK_MENU, 0}, {VK_F4, 0}, {VK_F4, KEYEVENTF_KEYUP}, {VK_MENU, KEYEVENTF_KEYUP}};
  for (int i = 0; i < 4; ++i) {
    keys[i].type = INPUT_KEYBOARD;
    keys[i].ki.wVk = order[i][0];
    keys[i].ki.dwFlags = order[i][1];
  }
  ASSERT_EQ(SendInput(4, keys, sizeof(INPUT)), 4u);
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_FALSE(IsWindow(g_mainWindow));
}

TEST_F(UserInputTest, AltF4ClosesTheWindowWhileTheListHasTheFocus) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  FetchWithStoredPin(hs);
  SetForegroundWindow(g_mainWindow);
  Pump(300);
  RECT row;
  row.left = LVIR_LABEL;
  ASSERT_TRUE(SendMessageW(g_listView, LVM_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&row)));
  POINT centre = {(row.left + row.right) / 2, (row.top + row.bottom) / 2};
  ClientToScreen(g_listView, &centre);
  if (!Xdotool(L"mousemove --sync " + std::to_wstring(centre.x) + L" " + std::to_wstring(centre.y) +
               L" click 1"))
    MISSING_PREREQUISITE() << "xdotool cannot be started";
  Pump(300);
  ASSERT_EQ(GetFocus(), g_listView);
  EXPECT_EQ(SendMessageW(g_listView, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);

  // A stuck loop would hang the test: it gives up after 10 s with 99.
  SetTimer(nullptr, 0, 10000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); });
  // The program's own loop must see the key: a test loop without the
  // accelerator table would let the default close run.
  ASSERT_TRUE(Xdotool(L"key alt+F4", false));
  EXPECT_EQ(RunMessageLoop(), 0);
  EXPECT_FALSE(IsWindow(g_mainWindow));
}

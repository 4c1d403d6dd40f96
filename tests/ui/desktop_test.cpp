// The desktop's window: no DLL from the current folder, the manifest, a frame
// the user sizes, tooltips, kept size and place, the list's keys and clicks.
#include <algorithm>
#include <string>

#include "tests/ui/ui_fixture.h"
// After windows.h (through the fixture).
#include <tlhelp32.h>

#include "ui/desktop.h"
#include "ui/resource.h"

namespace {

std::wstring Lower(std::wstring text) {
  for (WCHAR& c : text) c = static_cast<WCHAR>(towlower(c));
  return text;
}

// The DLLs a process has loaded, by file name in lower case.
std::vector<std::wstring> ModulesOf(DWORD process) {
  std::vector<std::wstring> names;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, process);
  if (snapshot == INVALID_HANDLE_VALUE) return names;
  MODULEENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry))
    names.push_back(Lower(entry.szModule));
  CloseHandle(snapshot);
  return names;
}

// palvo.exe in a process of its own, started in folder (its current folder).
struct Program {
  PROCESS_INFORMATION info = {};
  bool started = false;
  HWND window = nullptr;

  explicit Program(const std::wstring& folder = L"") {
    std::wstring commandLine = L"\"" PALVO_EXE L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &startup, &info);
    if (!started) return;
    WaitForInputIdle(info.hProcess, 10000);
    for (int i = 0; i < 500 && !window; ++i) {
      HWND found = FindWindowW(kClassName, kTitle);
      DWORD owner = 0;
      if (found) GetWindowThreadProcessId(found, &owner);
      // Its list view is made last: wait for the whole window.
      if (owner == info.dwProcessId && FindWindowExW(found, nullptr, WC_LISTVIEWW, nullptr))
        window = found;
      else
        Sleep(20);
    }
  }
  ~Program() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 9);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  HWND List() const { return FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr); }
  // The exit code once it ended, or -1.
  long Wait(int timeoutMs) {
    Pump(timeoutMs, [this] { return WaitForSingleObject(info.hProcess, 0) == WAIT_OBJECT_0; });
    DWORD code = 0;
    if (WaitForSingleObject(info.hProcess, 0) != WAIT_OBJECT_0) return -1;
    GetExitCodeProcess(info.hProcess, &code);
    return static_cast<long>(code);
  }
};

RECT ClientRectInMainWindow(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, g_mainWindow, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string Manifest(const WCHAR* program, int* manifests) {
  HMODULE image =
      LoadLibraryExW(program, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!image) return "";
  *manifests = 0;
  EnumResourceNamesW(
      image, MAKEINTRESOURCEW(24),
      [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
        ++*reinterpret_cast<int*>(count);
        return TRUE;
      },
      reinterpret_cast<LONG_PTR>(manifests));
  std::string text;
  if (HRSRC found = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(image, found)));
    if (bytes) text.assign(bytes, SizeofResource(image, found));
  }
  FreeLibrary(image);
  return text;
}

void WriteState(int left, int top, int width, int height, int dpi) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Palvo", 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::pair<const WCHAR*, int> values[] = {{L"WindowLeft", left},   {L"WindowTop", top},
                                                 {L"WindowWidth", width}, {L"WindowHeight", height},
                                                 {L"WindowDpi", dpi},     {L"WindowMaximized", 0}};
  for (const auto& [name, value] : values) {
    const DWORD data = static_cast<DWORD>(value);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  }
  RegCloseKey(key);
}

void CopyTo(const std::wstring& from, const std::wstring& to) {
  ASSERT_TRUE(CopyFileW(from.c_str(), to.c_str(), FALSE)) << GetLastError();
}

}  // namespace

TEST_F(UiTest, APlantedShellLibraryIsNeverLoaded) {
  // An "aygshell.dll" (the test stand-in, which makes a menu bar) where a
  // user starts the program from, as in a Downloads folder.
  const std::wstring folder = FreshFolder("planted");
  CopyTo(PALVO_SHELL_DIR L"\\aygshell.dll", folder + L"aygshell.dll");
  // Away from the top of the screen, where the handheld's rule would load the
  // shell.
  WriteState(100, 100, 500, 350, 96);
  Program program(folder);
  ASSERT_TRUE(program.window);
  RECT frame;
  GetWindowRect(program.window, &frame);
  ASSERT_GT(frame.top, 0);
  const std::vector<std::wstring> modules = ModulesOf(program.info.dwProcessId);
  ASSERT_FALSE(modules.empty());
  EXPECT_NE(std::find(modules.begin(), modules.end(), L"comctl32.dll"), modules.end());
  EXPECT_EQ(std::find(modules.begin(), modules.end(), L"aygshell.dll"), modules.end());
  EXPECT_EQ(GetDlgCtrlID(FindWindowExW(program.window, nullptr, TOOLBARCLASSNAMEW, nullptr)),
            IDC_COMMAND_BAR);
  PostMessageW(program.window, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.Wait(10000), 0);
}

TEST_F(UiTest, BothProgramsCarryTheManifest) {
  for (const WCHAR* program : {PALVO_EXE, PALVO_CLI_EXE}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(program)));
    int manifests = 0;
    const std::string text = Manifest(program, &manifests);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(manifests, 1);
    for (const char* part :
         {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "publicKeyToken=\"6595b64144ccf1df\"", "level=\"asInvoker\"",
          ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
      EXPECT_NE(text.find(part), std::string::npos) << part;
    EXPECT_EQ(text.find("<activeCodePage"), std::string::npos);
  }
}

TEST_F(UiTest, DesktopFrameAndTheListFillsTheClientArea) {
  StartWindow();
  const LONG style = GetWindowLongW(g_mainWindow, GWL_STYLE);
  EXPECT_EQ(style & (WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN);
  EXPECT_TRUE(SendMessageW(g_listView, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);

  for (SIZE size : {SIZE{700, 500}, SIZE{420, 260}}) {
    SCOPED_TRACE(size.cx);
    SetWindowPos(g_mainWindow, nullptr, 30, 40, size.cx, size.cy, SWP_NOZORDER);
    Pump(50);
    RECT client;
    GetClientRect(g_mainWindow, &client);
    const RECT bar = ClientRectInMainWindow(g_bar);
    const RECT list = ClientRectInMainWindow(g_listView);
    EXPECT_EQ(bar.right - bar.left, client.right);
    EXPECT_EQ(list.left, 0);
    EXPECT_EQ(list.top, bar.bottom);
    EXPECT_EQ(list.right, client.right);
    EXPECT_EQ(list.bottom, client.bottom);
  }

  // Too small a window is held at the size that shows the whole bar.
  SetWindowPos(g_mainWindow, nullptr, 30, 40, 60, 40, SWP_NOZORDER);
  Pump(50);
  RECT client;
  GetClientRect(g_mainWindow, &client);
  SIZE buttons = {};
  SendMessageW(g_bar, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&buttons));
  EXPECT_GE(client.right, buttons.cx);
  EXPECT_GT(client.bottom, ClientRectInMainWindow(g_bar).bottom);
}

TEST_F(UiTest, ToolbarButtonsTellWhatTheyDoInTheMenusWords) {
  StartWindow();
  HWND tips = reinterpret_cast<HWND>(SendMessageW(g_bar, TB_GETTOOLTIPS, 0, 0));
  ASSERT_TRUE(tips);
  struct Case {
    UINT command;
    const WCHAR* tip;
  };
  for (const Case& c : {Case{IDC_GET_LISTING, L"一覧取得"}, Case{IDC_DOWNLOAD, L"読み込み"},
                        Case{IDC_UPLOAD, L"書き込み"}, Case{0xF060, L"閉じる"}}) {
    SCOPED_TRACE(c.command);
    WCHAR text[80] = {};
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.hwnd = g_bar;
    tool.uId = c.command;
    tool.lpszText = text;
    SendMessageW(tips, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, c.tip);
  }
}

TEST_F(UiTest, SizePlaceAndColumnsAreKeptAcrossARestart) {
  {
    Program first;
    ASSERT_TRUE(first.window);
    SetWindowPos(first.window, nullptr, 70, 60, 530, 370, SWP_NOZORDER);
    SendMessageW(first.List(), LVM_SETCOLUMNWIDTH, 0, 150);
    // The caption's close button.
    PostMessageW(first.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    ASSERT_EQ(first.Wait(10000), 0);
  }
  Program second;
  ASSERT_TRUE(second.window);
  RECT r;
  GetWindowRect(second.window, &r);
  EXPECT_EQ(r.left, 70);
  EXPECT_EQ(r.top, 60);
  EXPECT_EQ(r.right - r.left, 530);
  EXPECT_EQ(r.bottom - r.top, 370);
  EXPECT_EQ(SendMessageW(second.List(), LVM_GETCOLUMNWIDTH, 0, 0), 150);
  PostMessageW(second.window, WM_COMMAND, IDC_CLOSE, 0);
  EXPECT_EQ(second.Wait(10000), 0);
}

TEST_F(UiTest, AWindowKeptOffEveryMonitorComesBackOnOne) {
  // Left where a second monitor used to be, and larger than the screen.
  for (POINT at : {POINT{20000, 300}, POINT{-3000, -3000}, POINT{100, 30000}}) {
    SCOPED_TRACE(at.x);
    WriteState(at.x, at.y, 500, 5000, 96);
    StartWindow();
    RECT r;
    GetWindowRect(g_mainWindow, &r);
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(g_mainWindow, MONITOR_DEFAULTTOPRIMARY), &info);
    EXPECT_EQ(r.right - r.left, 500);
    EXPECT_GE(r.left, info.rcWork.left);
    EXPECT_GE(r.top, info.rcWork.top);
    EXPECT_LE(r.right, info.rcWork.right);
    EXPECT_LE(r.bottom, info.rcWork.bottom);
    TearDown();
    SetUp();
  }
}

TEST_F(UserInputTest, ListKeysAndDoubleClick) {
  StartWindow();
  InProcessHandset hs(SampleContent());
  FetchWithStoredPin(hs);
  const std::vector<ListRow> rows = ReadListing();
  ASSERT_GT(rows.size(), 3u);
  // An ordinary row (the mail row would propose a folder's name).
  int target = 2;
  while (target < static_cast<int>(rows.size()) && rows[target].icon == 7) ++target;
  ASSERT_LT(target, static_cast<int>(rows.size()));
  SetForegroundWindow(g_mainWindow);
  Pump(300);
  auto rowCentre = [](int index) {
    RECT row;
    row.left = LVIR_BOUNDS;
    SendMessageW(g_listView, LVM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&row));
    POINT centre = {(row.left + row.right) / 2, (row.top + row.bottom) / 2};
    ClientToScreen(g_listView, &centre);
    return std::to_wstring(centre.x) + L" " + std::to_wstring(centre.y);
  };
  auto selected = [] { return SendMessageW(g_listView, LVM_GETSELECTEDCOUNT, 0, 0); };

  // A click right of the name still takes the row (full-row selection).
  ASSERT_TRUE(Xdotool(L"mousemove --sync " + rowCentre(1) + L" click 1"));
  Pump(300);
  ASSERT_EQ(GetFocus(), g_listView);
  EXPECT_EQ(selected(), 1);

  ASSERT_TRUE(Xdotool(L"key ctrl+a"));
  Pump(300);
  EXPECT_EQ(selected(), static_cast<LRESULT>(rows.size()));

  ASSERT_TRUE(Xdotool(L"key Delete"));
  Pump(300);
  EXPECT_EQ(ReadListing().size(), rows.size());
  EXPECT_EQ(selected(), static_cast<LRESULT>(rows.size()));

  // Enter on a row, then a double-click on it: the download's save dialog,
  // for that row's name.
  for (const WCHAR* how : {L"click 1 key Return", L"click --repeat 2 --delay 100 1"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(how)));
    std::wstring proposed;
    DialogPlayer save(L"保存するファイル", [&](HWND dialog) {
      proposed = FileDialogName(dialog);
      CancelDialog(dialog);
    });
    // No --sync: it would wait for ever on a pointer that is there already.
    ASSERT_TRUE(Xdotool(L"mousemove " + rowCentre(target) + L" " + how, false));
    Pump(15000, [&] { return save.found() && !WaitForWindow(L"保存するファイル", 0); });
    save.Join();
    EXPECT_TRUE(save.found());
    EXPECT_EQ(proposed, rows[target].name);
  }
}

TEST_F(UiTest, EveryIconHoldsTheSmallIconSizesUpTo192Dpi) {
  for (int id : {IDI_PROGRAM, IDI_IMAGE, IDI_NET, IDI_MUSIC, IDI_CARD, IDI_OTHER, IDI_GET_LISTING,
                 IDI_DOWNLOAD, IDI_UPLOAD, IDI_ADDRESS_BOOK, IDI_MAIL, IDI_BOOKMARKS}) {
    SCOPED_TRACE(id);
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), RT_GROUP_ICON);
    ASSERT_TRUE(found);
    // The group's directory: reserved, type, count, then 14 bytes an image,
    // its width first.
    const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(self, found)));
    const int count = group[4] | group[5] << 8;
    std::vector<int> widths;
    for (int i = 0; i < count; ++i) widths.push_back(group[6 + 14 * i]);
    for (int size : {16, 24, 32})
      EXPECT_NE(std::find(widths.begin(), widths.end(), size), widths.end()) << size;
  }
}

TEST_F(UiTest, MovingToADisplayOfTwiceTheScaleDoublesColumnsAndImages) {
  StartWindow();
  int widths[3];
  for (int i = 0; i < 3; ++i)
    widths[i] = static_cast<int>(SendMessageW(g_listView, LVM_GETCOLUMNWIDTH, i, 0));
  int cx = 0, cy = 0;
  ImageList_GetIconSize(
      reinterpret_cast<HIMAGELIST>(SendMessageW(g_listView, LVM_GETIMAGELIST, LVSIL_SMALL, 0)), &cx,
      &cy);
  ASSERT_EQ(cx, 16);

  RECT suggested = {40, 30, 40 + 900, 30 + 640};
  SendMessageW(g_mainWindow, WM_DPICHANGED, MAKEWPARAM(192, 192),
               reinterpret_cast<LPARAM>(&suggested));
  Pump(50);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(SendMessageW(g_listView, LVM_GETCOLUMNWIDTH, i, 0), 2 * widths[i]) << i;
  HIMAGELIST list =
      reinterpret_cast<HIMAGELIST>(SendMessageW(g_listView, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
  ImageList_GetIconSize(list, &cx, &cy);
  EXPECT_EQ(cx, 32);
  EXPECT_EQ(ImageList_GetImageCount(list), 8);
  HIMAGELIST bar = reinterpret_cast<HIMAGELIST>(SendMessageW(g_bar, TB_GETIMAGELIST, 0, 0));
  ImageList_GetIconSize(bar, &cx, &cy);
  EXPECT_EQ(cx, 32);
  EXPECT_EQ(ImageList_GetImageCount(bar), 3);
  RECT r;
  GetWindowRect(g_mainWindow, &r);
  EXPECT_EQ(r.left, suggested.left);
  EXPECT_EQ(r.right - r.left, 900);
  // The list still fills what lies under the bar.
  RECT client;
  GetClientRect(g_mainWindow, &client);
  EXPECT_EQ(ClientRectInMainWindow(g_listView).bottom, client.bottom);
  EXPECT_EQ(ClientRectInMainWindow(g_listView).right, client.right);
}

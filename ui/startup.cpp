// Start-up: one instance, the process state, the main window with its bar,
// toolbar and listing, and the message loop.
#include "link/pin_store.h"
#include "ui/commandbar.h"
#include "ui/desktop.h"
#include "ui/resource.h"
#include "ui/ui.h"

HINSTANCE g_instance = nullptr;
HWND g_statusBox = nullptr;
HWND g_bar = nullptr;
HMODULE g_shell = nullptr;
HACCEL g_accelerators = nullptr;

namespace {

constexpr int kToolbarImages = 3;

// The listing's image list, in the order that fixes the rows' icon indices:
// the five categories, then the bookmark, address book and mail rows.
constexpr int kListIcons[] = {IDI_IMAGE, IDI_MUSIC,     IDI_NET,          IDI_CARD,
                              IDI_OTHER, IDI_BOOKMARKS, IDI_ADDRESS_BOOK, IDI_MAIL};
constexpr int kToolbarIcons[kToolbarImages] = {IDI_GET_LISTING, IDI_DOWNLOAD, IDI_UPLOAD};

struct BarButton {
  int bitmap;
  int command;
  BYTE style;
};
// Positions 1 to 5 of the bar, after its menu.
constexpr BarButton kBarButtons[] = {
    {-1, 0, TBSTYLE_SEP},
    {0, IDC_GET_LISTING, TBSTYLE_BUTTON},
    {-1, 0, TBSTYLE_SEP},
    {1, IDC_DOWNLOAD, TBSTYLE_BUTTON},
    {2, IDC_UPLOAD, TBSTYLE_BUTTON},
};

struct Column {
  const WCHAR* header;
  int format;
  int threshold;  // main window width up to which the narrow width applies
  int narrow;
  int wide;
};
constexpr Column kColumns[] = {
    {L"名前", LVCFMT_LEFT | LVCFMT_IMAGE, 240, 122, 200},
    {L"サイズ", LVCFMT_RIGHT, 640, 48, 72},
    {L"更新日時", LVCFMT_LEFT, 240, 56, 160},
};

// 16 by 16 on the handheld; the small-icon size of the display's DPI on the
// desktop, where each icon holds 16, 24 and 32 pixel images.
HICON LoadSmallIcon(int id) {
  const int size = SmallIconSize();
  return static_cast<HICON>(
      LoadImageW(g_instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0));
}

}  // namespace

HBITMAP DrawToolbarBitmap(HWND window) {
  const int size = SmallIconSize();
  HDC screen = GetDC(window);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, size * kToolbarImages, size);
  HDC memory = CreateCompatibleDC(screen);
  ReleaseDC(window, screen);
  SelectObject(memory, bitmap);
  RECT all = {0, 0, size * kToolbarImages, size};
  FillRect(memory, &all, GetSysColorBrush(COLOR_BTNFACE));
  for (int i = 0; i < kToolbarImages; ++i) {
    HICON icon = LoadSmallIcon(kToolbarIcons[i]);
    DrawIconEx(memory, i * size, 0, icon, 0, 0, 0, nullptr, DI_NORMAL);
    DestroyIcon(icon);
  }
  DeleteDC(memory);
  return bitmap;
}

namespace {

void CreateBar(HWND window) {
  if (g_shell) {
    SHMENUBARINFO info = {};
    info.cbSize = sizeof info;
    info.hwndParent = window;
    info.nToolBarId = IDR_MENUBAR;
    info.hInstRes = g_instance;
    auto create = reinterpret_cast<SHCreateMenuBarProc>(
        reinterpret_cast<void*>(GetProcAddress(g_shell, "SHCreateMenuBar")));
    // A shell library without the entry point: fall back to the command bar.
    if (create && create(&info) && info.hwndMB) {
      g_bar = info.hwndMB;
      HMENU menu = LoadMenuW(g_instance, MAKEINTRESOURCEW(IDM_MAIN));
      SendMessageW(g_bar, SHCMBM_SETSUBMENU, IDR_MENUBAR,
                   reinterpret_cast<LPARAM>(GetSubMenu(menu, 0)));
      return;
    }
    FreeLibrary(g_shell);
    g_shell = nullptr;
  }
  g_bar = CommandBar_Create(g_instance, window, IDC_COMMAND_BAR);
  CommandBar_InsertMenubar(g_bar, g_instance, IDM_MAIN, 0);
}

void AddBarButtons(HBITMAP bitmap) {
  CommandBar_AddBitmap(g_bar, nullptr, reinterpret_cast<UINT_PTR>(bitmap), kToolbarImages,
                       SmallIconSize(), SmallIconSize());
  int position = 1;
  for (const BarButton& b : kBarButtons) {
    TBBUTTON button = {};
    button.iBitmap = b.bitmap;
    button.idCommand = b.command;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = b.style;
    button.iString = -1;
    SendMessageW(g_bar, TB_INSERTBUTTONW, static_cast<WPARAM>(position++),
                 reinterpret_cast<LPARAM>(&button));
  }
  if (!g_shell) CommandBar_AddAdornments(g_bar, 0, 0);
}

}  // namespace

HIMAGELIST CreateListImages() {
  const int size = SmallIconSize();
  HIMAGELIST images = ImageList_Create(size, size, ILC_COLOR | ILC_MASK, 0, 8);
  for (int id : kListIcons) {
    HICON icon = LoadSmallIcon(id);
    ImageList_ReplaceIcon(images, -1, icon);
    DestroyIcon(icon);  // the image list keeps its own copy
  }
  return images;
}

namespace {

// Columns take their widths from the window's width. The list itself fills the
// client area: the handheld's window has no frame, so there the two agree,
// while a desktop window's caption and border would push its last rows out.
void CreateListView(HWND window, int width) {
  RECT client;
  GetClientRect(window, &client);
  int height = client.bottom;
  int y = 0;
  if (g_shell) {
    RECT bar;
    GetWindowRect(g_bar, &bar);
    height -= bar.bottom - bar.top;
  } else {
    y = CommandBar_Height(g_bar);
    height -= y;
  }
  g_listView = CreateWindowExW(
      0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, y,
      client.right, height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_LISTING)),
      g_instance, nullptr);
  SetUpListManners(g_listView);
  SendMessageW(g_listView, LVM_SETIMAGELIST, LVSIL_SMALL,
               reinterpret_cast<LPARAM>(CreateListImages()));
  // The thresholds and widths are the handheld's pixels: on the desktop they
  // count at 96 DPI, and a width the user left a column at comes first.
  const int logicalWidth = UnscaleFromDpi(width);
  for (int i = 0; i < 3; ++i) {
    const Column& c = kColumns[i];
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = c.format;
    if (!RememberedColumnWidth(i, &column.cx))
      column.cx = ScaleToDpi(logicalWidth <= c.threshold ? c.narrow : c.wide);
    column.pszText = const_cast<WCHAR*>(c.header);
    SendMessageW(g_listView, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(&column));
  }
}

}  // namespace

bool BringRunningInstanceForward() {
  HWND running = FindWindowW(kClassName, kTitle);
  if (!running) return false;
  // The low bit asks the handheld to bring the window's owned pop-ups forward
  // too; a desktop system takes it for an invalid handle, so there the plain
  // handle follows.
  if (!SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<UINT_PTR>(running) | 1)))
    SetForegroundWindow(running);
  return true;
}

void StartUp(HINSTANCE instance) {
  g_instance = instance;
  InitProcessState();
  g_statusBox = nullptr;
  g_mainWindow = nullptr;
  g_bar = nullptr;
  g_listView = nullptr;
  g_shell = nullptr;
  DeriveInstallationKey();

  InitCommonControls();
  WNDCLASSW windowClass = {};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PROGRAM));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassW(&windowClass)) FatalStartupMessage(L"Failed. (register)");

  g_mainWindow =
      CreateWindowExW(0, kClassName, kTitle, kMainWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (!g_mainWindow) FatalStartupMessage(L"Failed. (wbase)");
  ReadWindowDpi(g_mainWindow);
  SendMessageW(g_mainWindow, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(LoadSmallIcon(IDI_PROGRAM)));
  ShowWindow(g_mainWindow, PlaceMainWindow(g_mainWindow));
  RECT frame;
  GetWindowRect(g_mainWindow, &frame);
  const int width = frame.right - frame.left;

  // Only the Pocket PC shell leaves room above the window for its title bar.
  if (frame.top > 0) g_shell = LoadShellLibrary();

  HBITMAP toolbarBitmap = DrawToolbarBitmap(g_mainWindow);
  CreateBar(g_mainWindow);
  AddBarButtons(toolbarBitmap);
  CreateListView(g_mainWindow, width);
  g_accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_MAIN));
}

int RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // For the main window whichever control has the focus: translated for the
    // list view, Alt+F4 would become a command it ignores, and the key would
    // count as handled.
    if (TranslateAcceleratorW(g_mainWindow, g_accelerators, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

int PalvoMain(HINSTANCE instance) {
  if (BringRunningInstanceForward()) return 1;
  StartUp(instance);
  return RunMessageLoop();
}

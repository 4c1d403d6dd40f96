#include "tests/ui/ui_fixture.h"

#include <dlgs.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "download/listing.h"
#include "link/frame.h"
#include "link/frontend.h"
#include "tests/support/peer.h"
#include "ui/desktop.h"
#include "ui/resource.h"

namespace fs = std::filesystem;

std::vector<ListRow> ReadListing() {
  std::vector<ListRow> rows;
  const int count = static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    ListRow row;
    WCHAR text[kPathUnits];
    for (int column = 0; column < 3; ++column) {
      LVITEMW item = {};
      item.mask = LVIF_TEXT | (column == 0 ? LVIF_IMAGE : 0);
      item.iItem = i;
      item.iSubItem = column;
      item.pszText = text;
      item.cchTextMax = kPathUnits;
      text[0] = 0;
      SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
      (column == 0 ? row.name : column == 1 ? row.size : row.date) = text;
      if (column == 0) row.icon = item.iImage;
    }
    rows.push_back(row);
  }
  return rows;
}

std::vector<std::wstring> RowNames() {
  std::vector<std::wstring> names;
  for (const ListRow& row : ReadListing()) names.push_back(row.name);
  return names;
}

void SelectRows(const std::vector<std::wstring>& names) {
  LVITEMW clear = {};
  clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(g_listView, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
               reinterpret_cast<LPARAM>(&clear));
  const std::vector<ListRow> rows = ReadListing();
  bool first = true;
  for (const std::wstring& name : names) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].name != name) continue;
      LVITEMW item = {};
      item.stateMask = LVIS_SELECTED;
      item.state = LVIS_SELECTED;
      SendMessageW(g_listView, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
      if (first) SendMessageW(g_listView, LVM_SETSELECTIONMARK, 0, static_cast<LPARAM>(i));
      first = false;
    }
  }
}

void Pump(int ms, const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done && done()) return;
    Sleep(10);
  }
}

std::wstring TextOf(HWND window) {
  WCHAR text[kPathUnits] = {};
  InternalGetWindowText(window, text, kPathUnits);
  return text;
}

namespace {

struct Search {
  const WCHAR* title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM context) {
  Search* search = reinterpret_cast<Search*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  if (TextOf(window) != search->title) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FileNameEdit(HWND dialog) {
  // The explorer-style dialog's name box: an extended combo box (its edit is
  // inside an inner combo box), a plain combo box, or an edit.
  HWND combo = GetDlgItem(dialog, 0x47c);        // cmb13
  if (!combo) return GetDlgItem(dialog, 0x480);  // edt1
  HWND edit = reinterpret_cast<HWND>(SendMessageW(combo, CBEM_GETEDITCONTROL, 0, 0));
  if (edit && IsWindow(edit)) return edit;
  edit = FindWindowExW(combo, nullptr, L"Edit", nullptr);
  return edit ? edit : combo;
}

}  // namespace

HWND WaitForWindow(const WCHAR* title, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  do {
    Search search = {title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(20);
  } while (std::chrono::steady_clock::now() < end);
  return nullptr;
}

DialogPlayer::DialogPlayer(const WCHAR* title, std::function<void(HWND)> action, int timeoutMs)
    : thread_([this, title, action, timeoutMs] {
        for (int waited = 0; !stop_ && waited < timeoutMs; waited += 50) {
          HWND dialog = WaitForWindow(title, 50);
          if (!dialog) continue;
          // A dialog may show before its initialisation is over (the file
          // dialogs do), or still be seen while it goes: wait until it answers
          // and has its controls, then a moment more, and look again.
          DWORD_PTR ignored;
          SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
          Sleep(300);
          if (!IsWindow(dialog) || !IsWindowVisible(dialog) || !GetWindow(dialog, GW_CHILD))
            continue;
          found_ = true;
          action(dialog);
          return;
        }
      }) {}

std::wstring FileDialogName(HWND dialog) {
  WCHAR text[kPathUnits] = {};
  GetWindowTextW(FileNameEdit(dialog), text, kPathUnits);
  return text;
}

void AcceptFileDialog(HWND dialog, const std::wstring& path) {
  // The dialog may still be filling in its own name: type until it sticks.
  for (int i = 0; i < 50; ++i) {
    SetWindowTextW(FileNameEdit(dialog), path.c_str());
    Sleep(200);
    if (FileDialogName(dialog) == path) break;
  }
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
}

void CancelDialog(HWND dialog) {
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

namespace {

// The watcher whose hook is installed: one at a time, on the UI thread.
StatusWatcher* g_watcher = nullptr;

}  // namespace

// The status box's text is set with SetDlgItemTextW on the UI thread: a hook
// on that thread's sent messages sees every text, however briefly the box
// stands (polling from another thread missed a box closed within its sleep).
LRESULT CALLBACK StatusWatcher::Hook(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && g_watcher && sent->message == WM_SETTEXT && sent->lParam &&
      GetDlgCtrlID(sent->hwnd) == IDC_STATUS_TEXT)
    g_watcher->Record(GetParent(sent->hwnd), reinterpret_cast<const WCHAR*>(sent->lParam));
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void StatusWatcher::Record(HWND box, const WCHAR* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool known = false;
  for (HWND b : boxes_) known = known || b == box;
  if (!known) boxes_.push_back(box);
  if (text[0] && (texts_.empty() || texts_.back() != text)) texts_.push_back(text);
}

StatusWatcher::StatusWatcher() {
  g_watcher = this;
  hook_ = SetWindowsHookExW(WH_CALLWNDPROC, Hook, nullptr, GetCurrentThreadId());
}

void StatusWatcher::Stop() {
  if (hook_) UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
  if (g_watcher == this) g_watcher = nullptr;
}

std::vector<std::wstring> StatusWatcher::texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return texts_;
}

int StatusWatcher::boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(boxes_.size());
}

bool Xdotool(const std::wstring& arguments, bool wait) {
  std::wstring command = L"xdotool " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(L"Z:\\usr\\bin\\xdotool", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process))
    return false;
  if (wait) Pump(5000, [&] { return WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0; });
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return true;
}

std::wstring FreshFolder(const char* name) {
  WCHAR temp[kPathUnits];
  GetTempPathW(kPathUnits, temp);
  fs::path dir = fs::path(temp) / "palvo-ui" / name;
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  fs::create_directories(dir);
  return dir.wstring() + L"\\";
}

bool FileExists(const std::wstring& path) { return fs::is_regular_file(fs::path(path)); }

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(fs::path(path), std::ios::binary);
  out << bytes;
}

handset::Content SampleContent() {
  handset::Content content;
  std::string error;
  EXPECT_TRUE(
      handset::LoadContent(fs::path(PALVO_SOURCE_DIR) / "handset" / "sample", &content, &error))
      << error;
  return content;
}

namespace {

int g_hookWidth = 0;
int g_hookTop = -1;

// Moves the main window as it is created, before start-up reads its frame.
LRESULT CALLBACK FrameHook(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call->message == WM_CREATE) {
    WCHAR name[32] = {};
    GetClassNameW(call->hwnd, name, 32);
    if (std::wstring(name) == kClassName) {
      RECT r;
      GetWindowRect(call->hwnd, &r);
      SetWindowPos(call->hwnd, nullptr, 0, g_hookTop >= 0 ? g_hookTop : r.top,
                   g_hookWidth > 0 ? g_hookWidth : r.right - r.left, 400,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

void UiTest::SetUp() {
  ClearDrivers();
  InitProcessState();
  g_silenceLimitMs = 1500;
  g_instance = GetModuleHandleW(nullptr);
  SetDllDirectoryW(nullptr);
  g_shellStandIn = nullptr;
  // Each test's window opens at the system's default, whatever the last one
  // left.
  ForgetWindowState();
  // The driver's own key, where the stored PIN lives.
  HKEY key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestDriverKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

void UiTest::StartWindow(int width, int top) {
  HHOOK hook = nullptr;
  if (width > 0 || top >= 0) {
    g_hookWidth = width;
    g_hookTop = top;
    hook = SetWindowsHookExW(WH_CALLWNDPROC, FrameHook, nullptr, GetCurrentThreadId());
  }
  StartUp(GetModuleHandleW(nullptr));
  if (hook) UnhookWindowsHookEx(hook);
  ASSERT_TRUE(g_mainWindow);
  ASSERT_TRUE(g_listView);
  Pump(50);
}

void UiTest::TearDown() {
  ShowStatus(nullptr, kResultMode);
  if (g_mainWindow && IsWindow(g_mainWindow)) DestroyWindow(g_mainWindow);
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
  if (g_shell) FreeLibrary(g_shell);
  g_shell = nullptr;
  g_mainWindow = g_listView = g_bar = nullptr;
  SetDllDirectoryW(nullptr);
  g_shellStandIn = nullptr;
  ForgetWindowState();
}

void UiTest::FetchWithStoredPin(InProcessHandset& hs) {
  ASSERT_TRUE(hs.ok()) << "run through wine-run.sh --com-pair";
  RegisterHandset(hs, true);
  const int before = Requests(hs, 255, 1, 2);
  // A PIN dialog here would be a fault; answer it rather than hang.
  DialogPlayer unexpected(
      L"暗証番号", [](HWND dialog) { CancelDialog(dialog); }, 3000);
  SendMessageW(g_mainWindow, WM_COMMAND, IDC_GET_LISTING, 0);
  unexpected.Stop();
  ASSERT_FALSE(unexpected.found()) << "the stored PIN was not used";
  ASSERT_TRUE(hs.WaitForGoodbye(before + 1));
  ASSERT_TRUE(g_connected);
}

int UiTest::Requests(InProcessHandset& hs, unsigned code, unsigned group, unsigned operation) {
  int n = 0;
  for (const handset::LoggedRequest& r : hs->Log()) n += r.Is(code, group, operation);
  return n;
}

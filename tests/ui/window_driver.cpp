// Plays the user of a running palvo.exe from another Wine process, for the
// demo and for screenshots: posts commands, answers the PIN and file dialogs,
// and stops at "shot NAME" until the caller has taken a screenshot.
//
//   palvo_window_driver.exe --log FILE STEP...
//     wait-window          until the main window exists
//     post ID              WM_COMMAND ID to the main window
//     key VK               a key press (decimal virtual key) to the listing
//     pin NNNN             type the PIN into its dialog and confirm
//     accept TITLE PATH    type PATH into the file dialog TITLE and press OK
//     ok TITLE / cancel TITLE
//     kind TITLE N         choose kind N in the upload destination dialog
//     wait TITLE           until a window with that title shows
//     rows                 log the listing's row count
//     wait-rows N          until the listing has at least N rows
//     shot NAME            log "shot NAME", wait until NAME.png exists beside FILE
//     sleep MS
// Each step is logged; the last line is "done" or "failed: <step>".
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/win32.h"

namespace {

FILE* g_log = nullptr;
std::wstring g_logDir;

void Log(const std::wstring& line) {
  if (!g_log) return;
  char bytes[1024];
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, bytes, sizeof bytes, nullptr, nullptr);
  std::fprintf(g_log, "%s\n", bytes);
  std::fflush(g_log);
}

struct Search {
  const WCHAR* title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM context) {
  Search* search = reinterpret_cast<Search*>(context);
  WCHAR text[256] = {};
  GetWindowTextW(window, text, 256);
  if (!IsWindowVisible(window) || std::wcscmp(text, search->title) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

HWND WaitFor(const WCHAR* title, int timeoutMs = 20000) {
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    Search search = {title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      Sleep(300);  // let it paint
      return search.found;
    }
    Sleep(50);
  }
  return nullptr;
}

HWND MainWindow() { return FindWindowW(L"Palvo", L"Palvo"); }

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

bool Step(int argc, wchar_t** argv, int* i) {
  const std::wstring step = argv[(*i)++];
  auto next = [&]() -> const wchar_t* { return *i < argc ? argv[(*i)++] : L""; };
  Log(L"step " + step);
  if (step == L"wait-window") {
    for (int waited = 0; waited < 20000 && !MainWindow(); waited += 50) Sleep(50);
    return MainWindow() != nullptr;
  }
  if (step == L"post") {
    return PostMessageW(MainWindow(), WM_COMMAND, std::wcstoul(next(), nullptr, 10), 0);
  }
  if (step == L"key") {
    HWND list = GetDlgItem(MainWindow(), 1111);
    const WPARAM vk = std::wcstoul(next(), nullptr, 10);
    return PostMessageW(list, WM_KEYDOWN, vk, 1) && PostMessageW(list, WM_KEYUP, vk, 0xC0000001);
  }
  if (step == L"pin") {
    HWND dialog = WaitFor(L"暗証番号");
    if (!dialog) return false;
    SetDlgItemTextW(dialog, 1003, next());
    return PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  }
  if (step == L"accept") {
    HWND dialog = WaitFor(next());
    const wchar_t* path = next();
    if (!dialog) return false;
    SetWindowTextW(FileNameEdit(dialog), path);
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
  }
  if (step == L"ok" || step == L"cancel") {
    HWND dialog = WaitFor(next());
    return dialog && PostMessageW(dialog, WM_COMMAND, step == L"ok" ? IDOK : IDCANCEL, 0);
  }
  if (step == L"kind") {
    HWND dialog = WaitFor(next());
    const WPARAM index = std::wcstoul(next(), nullptr, 10);
    if (!dialog) return false;
    SendDlgItemMessageW(dialog, 1002, CB_SETCURSEL, index, 0);
    return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(1002, CBN_SELCHANGE),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog, 1002)));
  }
  if (step == L"wait") return WaitFor(next()) != nullptr;
  if (step == L"rows") {
    const LRESULT rows = SendMessageW(GetDlgItem(MainWindow(), 1111), LVM_GETITEMCOUNT, 0, 0);
    Log(L"rows " + std::to_wstring(rows));
    return true;
  }
  if (step == L"wait-rows") {
    const LRESULT want = std::wcstoul(next(), nullptr, 10);
    for (int waited = 0; waited < 30000; waited += 50) {
      if (SendMessageW(GetDlgItem(MainWindow(), 1111), LVM_GETITEMCOUNT, 0, 0) >= want) {
        Sleep(300);
        return true;
      }
      Sleep(50);
    }
    return false;
  }
  if (step == L"shot") {
    const std::wstring name = next();
    Log(L"shot " + name);
    const std::wstring png = g_logDir + name + L".png";
    for (int waited = 0; waited < 30000; waited += 50) {
      if (GetFileAttributesW(png.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
      Sleep(50);
    }
    return false;
  }
  if (step == L"sleep") {
    Sleep(std::wcstoul(next(), nullptr, 10));
    return true;
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int i = 1;
  if (argc > 2 && std::wcscmp(argv[1], L"--log") == 0) {
    g_log = _wfopen(argv[2], L"a");
    g_logDir = argv[2];
    g_logDir.resize(g_logDir.find_last_of(L"\\/") + 1);
    i = 3;
  }
  while (i < argc) {
    const int at = i;
    if (!Step(argc, argv, &i)) {
      Log(std::wstring(L"failed: ") + argv[at]);
      return 1;
    }
  }
  Log(L"done");
  return 0;
}

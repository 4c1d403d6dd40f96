#include "ui/commandbar.h"

#include "ui/resource.h"

namespace {

// The toolbar tells a parent about clicks and drop-downs; the main window's
// procedure knows only WM_COMMAND, so a small message-only window of ours
// takes those notifications, shows the menu and passes commands on.
constexpr WCHAR kHostClass[] = L"PalvoCommandBarHost";
constexpr WCHAR kMenuProperty[] = L"PalvoBarMenu";
constexpr WCHAR kMenuIdProperty[] = L"PalvoBarMenuId";
constexpr WCHAR kHostProperty[] = L"PalvoBarHost";
constexpr WCHAR kBarProperty[] = L"PalvoBar";

HWND OwnerOf(HWND host) { return reinterpret_cast<HWND>(GetWindowLongPtrW(host, GWLP_USERDATA)); }

void ShowBarMenu(HWND host, const NMTOOLBARW* note) {
  HWND bar = note->hdr.hwndFrom;
  HMENU menu = static_cast<HMENU>(GetPropW(bar, kMenuProperty));
  if (!menu) return;
  RECT r;
  SendMessageW(bar, TB_GETRECT, static_cast<WPARAM>(note->iItem), reinterpret_cast<LPARAM>(&r));
  MapWindowPoints(bar, nullptr, reinterpret_cast<POINT*>(&r), 2);
  SendMessageW(bar, TB_PRESSBUTTON, static_cast<WPARAM>(note->iItem), TRUE);
  TrackPopupMenuEx(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom,
                   OwnerOf(host), nullptr);
  SendMessageW(bar, TB_PRESSBUTTON, static_cast<WPARAM>(note->iItem), FALSE);
}

// A menu item's text as a tooltip says it: "読み込み(&G)..." is "読み込み".
void TipFromMenuText(const WCHAR* text, WCHAR* tip, int capacity) {
  int n = 0;
  for (const WCHAR* c = text; *c && n < capacity - 1; ++c) {
    if (c[0] == L'(' && c[1] == L'&' && c[2] && c[3] == L')') {
      c += 3;  // the mark and the letter it underlines
      continue;
    }
    if (c[0] == L'&' && c[1] != L'&') continue;
    if (c[0] == L'&') ++c;  // "&&" is one ampersand
    tip[n++] = *c;
  }
  while (n > 0 && (tip[n - 1] == L'.' || tip[n - 1] == L'\u2026' || tip[n - 1] == L' ')) --n;
  tip[n] = 0;
}

// The bar's buttons say what they do with their menu item's words; the close
// box with those of the menu's close item.
void FillTip(HWND host, NMTTDISPINFOW* info) {
  info->szText[0] = 0;
  HWND bar = static_cast<HWND>(GetPropW(host, kBarProperty));
  HMENU menu = bar ? static_cast<HMENU>(GetPropW(bar, kMenuProperty)) : nullptr;
  if (!menu) return;
  const UINT command =
      info->hdr.idFrom == kCloseBoxCommand ? IDC_CLOSE : static_cast<UINT>(info->hdr.idFrom);
  WCHAR text[80] = {};
  if (GetMenuStringW(menu, command, text, 80, MF_BYCOMMAND) <= 0) return;
  TipFromMenuText(text, info->szText, 80);
}

LRESULT CALLBACK HostProc(HWND host, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == TBN_DROPDOWN) {
        ShowBarMenu(host, reinterpret_cast<const NMTOOLBARW*>(lParam));
        return TBDDRET_DEFAULT;
      }
      if (header->code == TTN_GETDISPINFOW) FillTip(host, reinterpret_cast<NMTTDISPINFOW*>(lParam));
      return 0;
    }
    case WM_COMMAND: {
      HWND owner = OwnerOf(host);
      if (LOWORD(wParam) == kCloseBoxCommand) {
        PostMessageW(owner, WM_CLOSE, 0, 0);
        return 0;
      }
      // The menu button's own id is no command of the window.
      HWND bar = reinterpret_cast<HWND>(lParam);
      if (bar && LOWORD(wParam) == reinterpret_cast<UINT_PTR>(GetPropW(bar, kMenuIdProperty)))
        return 0;
      return SendMessageW(owner, WM_COMMAND, wParam, lParam);
    }
  }
  return DefWindowProcW(host, message, wParam, lParam);
}

// The handheld's bar gives every image button the image's width; a desktop
// toolbar that also holds text buttons widens them to the longest text. Image
// buttons inserted into the bar are therefore sized to their content.
WNDPROC g_toolbarProc = nullptr;

LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == TB_INSERTBUTTONW && lParam) {
    TBBUTTON button = *reinterpret_cast<const TBBUTTON*>(lParam);
    if (!(button.fsStyle & BTNS_SEP)) button.fsStyle |= BTNS_AUTOSIZE;
    return CallWindowProcW(g_toolbarProc, bar, message, wParam, reinterpret_cast<LPARAM>(&button));
  }
  if (message == WM_NCDESTROY) {
    // The host and the menu go with the bar.
    if (HWND host = static_cast<HWND>(RemovePropW(bar, kHostProperty))) {
      RemovePropW(host, kBarProperty);
      DestroyWindow(host);
    }
    if (HMENU menu = static_cast<HMENU>(RemovePropW(bar, kMenuProperty))) DestroyMenu(menu);
    RemovePropW(bar, kMenuIdProperty);
  }
  return CallWindowProcW(g_toolbarProc, bar, message, wParam, lParam);
}

void AddTextButton(HWND bar, int position, int command, const WCHAR* text, BYTE style) {
  WCHAR strings[64] = {};
  lstrcpynW(strings, text, 62);  // TB_ADDSTRINGW wants a double terminator
  TBBUTTON button = {};
  button.iBitmap = I_IMAGENONE;
  button.idCommand = command;
  button.fsState = TBSTATE_ENABLED;
  button.fsStyle = style | BTNS_AUTOSIZE | BTNS_SHOWTEXT;
  button.iString = SendMessageW(bar, TB_ADDSTRINGW, 0, reinterpret_cast<LPARAM>(strings));
  SendMessageW(bar, TB_INSERTBUTTONW, static_cast<WPARAM>(position),
               reinterpret_cast<LPARAM>(&button));
}

}  // namespace

HWND CommandBar_Create(HINSTANCE instance, HWND parent, int id) {
  WNDCLASSW hostClass = {};
  hostClass.lpfnWndProc = HostProc;
  hostClass.hInstance = instance;
  hostClass.lpszClassName = kHostClass;
  RegisterClassW(&hostClass);  // fails harmlessly when already registered
  HWND host =
      CreateWindowExW(0, kHostClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (!host) return nullptr;
  SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(parent));

  HWND bar = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_LIST |
                                 TBSTYLE_TOOLTIPS | CCS_TOP | CCS_NODIVIDER,
                             0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             instance, nullptr);
  if (!bar) {
    DestroyWindow(host);
    return nullptr;
  }
  SendMessageW(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  SendMessageW(bar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_MIXEDBUTTONS | TBSTYLE_EX_DRAWDDARROWS);
  SendMessageW(bar, TB_SETPARENT, reinterpret_cast<WPARAM>(host), 0);
  g_toolbarProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BarProc)));
  SetPropW(bar, kHostProperty, host);
  SetPropW(host, kBarProperty, bar);
  return bar;
}

BOOL CommandBar_InsertMenubar(HWND bar, HINSTANCE instance, WORD menuId, WORD button) {
  HMENU menu = LoadMenuW(instance, MAKEINTRESOURCEW(menuId));
  if (!menu) return FALSE;
  WCHAR caption[64] = {};
  GetMenuStringW(menu, 0, caption, 63, MF_BYPOSITION);
  SetPropW(bar, kMenuProperty, menu);
  SetPropW(bar, kMenuIdProperty, reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(menuId)));
  AddTextButton(bar, button, menuId, caption, BTNS_WHOLEDROPDOWN);
  return TRUE;
}

int CommandBar_AddBitmap(HWND bar, HINSTANCE instance, UINT_PTR bitmap, int images, int width,
                         int height) {
  SendMessageW(bar, TB_SETBITMAPSIZE, 0, MAKELONG(width, height));
  TBADDBITMAP added = {instance, bitmap};
  return static_cast<int>(SendMessageW(bar, TB_ADDBITMAP, static_cast<WPARAM>(images),
                                       reinterpret_cast<LPARAM>(&added)));
}

BOOL CommandBar_AddAdornments(HWND bar, DWORD, DWORD) {
  const int end = static_cast<int>(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0));
  AddTextButton(bar, end, kCloseBoxCommand, L"×", BTNS_BUTTON);
  return TRUE;
}

int CommandBar_Height(HWND bar) {
  // The toolbar does not follow its parent's width by itself; this is asked on
  // every resize, so it is refitted here first.
  SendMessageW(bar, TB_AUTOSIZE, 0, 0);
  RECT r;
  GetWindowRect(bar, &r);
  return r.bottom - r.top;
}

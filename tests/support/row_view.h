// A list view for tests that read or fill the listing.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "link/state.h"
#include "platform/win32.h"

// The listing the dispatch reads: the stand-in's model natively, the real
// control (with the listing's three columns: name, size, date) in a
// message-only window under Wine. Null when the common controls cannot make one.
inline HWND CreateRowView() {
#ifdef _WIN32
  if (!LoadLibraryW(L"comctl32.dll")) return nullptr;
  HWND view = CreateWindowExW(0, L"SysListView32", L"", LVS_REPORT, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  for (int i = 0; view && i < 3; ++i) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH | LVCF_SUBITEM;
    column.cx = 100;
    column.iSubItem = i;
    SendMessageW(view, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  return view;
#else
  return CreateListViewModel();
#endif
}

inline void DestroyRowView(HWND view) {
#ifdef _WIN32
  DestroyWindow(view);
#else
  DestroyListViewModel(view);
#endif
}

// g_listView gone (nothing when there is none).
inline void DropRowView() {
  if (g_listView) DestroyRowView(g_listView);
  g_listView = nullptr;
}

// g_listView made afresh for a test; false when this build can make none.
inline bool UseRowView() {
  DropRowView();
  g_listView = CreateRowView();
  return g_listView != nullptr;
}

// The text of a cell of g_listView, whether the control copies it into the
// buffer or hands back its own.
inline std::wstring CellText(int row, int column = 0) {
  WCHAR text[kPathUnits] = {};
  LVITEMW item = {};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = kPathUnits;
  SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  return item.pszText ? std::wstring(item.pszText) : std::wstring(text);
}

// A row as the listing makes it: its name, its icon index, and whether the
// user selected it.
struct Row {
  Row(std::wstring text_, int icon_ = 0, bool selected_ = false, std::wstring date_ = L"")
      : text(std::move(text_)), icon(icon_), selected(selected_), date(std::move(date_)) {}
  std::wstring text;
  int icon;
  bool selected;
  std::wstring date;  // the date column, as the listing shows it
};

// Appends the rows to view in order, each with a sort key below the one
// before.
inline void FillRows(HWND view, const std::vector<Row>& rows) {
  const int first = static_cast<int>(SendMessageW(view, LVM_GETITEMCOUNT, 0, 0));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::wstring text = rows[i].text;
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = first + static_cast<int>(i);
    item.pszText = text.data();
    item.iImage = rows[i].icon;
    item.lParam = 1000 - item.iItem;
    const LRESULT row = SendMessageW(view, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    if (!rows[i].date.empty() && row >= 0) {
      std::wstring date = rows[i].date;
      LVITEMW column = {};
      column.mask = LVIF_TEXT;
      column.iItem = static_cast<int>(row);
      column.iSubItem = 2;
      column.pszText = date.data();
      SendMessageW(view, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&column));
    }
    if (rows[i].selected && row >= 0) {
      LVITEMW state = {};
      state.stateMask = LVIS_SELECTED;
      state.state = LVIS_SELECTED;
      SendMessageW(view, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                   reinterpret_cast<LPARAM>(&state));
    }
  }
}

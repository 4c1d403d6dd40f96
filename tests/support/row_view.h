// A list view for tests that read or fill the listing.
#pragma once

#include "platform/win32.h"

// The listing the dispatch reads: the stand-in's model natively, the real
// control in a message-only window under Wine.
inline HWND CreateRowView() {
#ifdef _WIN32
  if (!LoadLibraryW(L"comctl32.dll")) return nullptr;
  HWND view = CreateWindowExW(0, L"SysListView32", L"", LVS_REPORT, 0, 0, 0, 0, HWND_MESSAGE,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  if (view) {
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = 100;
    SendMessageW(view, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
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

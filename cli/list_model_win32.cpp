// The listing of the Windows command line: a message-only window that answers
// the list-view messages the core sends, as the report-view control does. The
// real control needs a desktop for its header (without one it keeps no
// sub-item texts); a console program must not.
#ifdef _WIN32

#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli.h"

namespace {

constexpr int kColumns = 4;  // the window's three and the exact size

struct Row {
  std::wstring text[kColumns];
  int image = 0;
  UINT state = 0;
  LPARAM param = 0;
};

std::vector<Row> g_rows;
int g_mark = -1;

bool Valid(int row) { return row >= 0 && row < static_cast<int>(g_rows.size()); }

void CopyOut(const std::wstring& text, LVITEMW* item) {
  if (!item->pszText || item->cchTextMax <= 0) return;
  const std::size_t n = std::min(text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
  text.copy(item->pszText, n);
  item->pszText[n] = 0;
}

std::wstring CutText(const WCHAR* text) {
  std::wstring s = text ? text : L"";
  if (s.size() > static_cast<std::size_t>(kPathUnits - 1)) s.resize(kPathUnits - 1);
  return s;
}

LRESULT Insert(const LVITEMW* item) {
  if (item->iSubItem != 0) return -1;
  const int at = std::clamp(item->iItem, 0, static_cast<int>(g_rows.size()));
  Row row;
  if (item->mask & LVIF_TEXT) row.text[0] = CutText(item->pszText);
  if (item->mask & LVIF_IMAGE) row.image = item->iImage;
  if (item->mask & LVIF_PARAM) row.param = item->lParam;
  if (item->mask & LVIF_STATE) row.state = item->state & item->stateMask;
  g_rows.insert(g_rows.begin() + at, row);
  if (g_mark >= at) ++g_mark;
  return at;
}

LRESULT Set(const LVITEMW* item) {
  if (!Valid(item->iItem) || item->iSubItem < 0 || item->iSubItem >= kColumns) return FALSE;
  Row& row = g_rows[static_cast<std::size_t>(item->iItem)];
  if (item->mask & LVIF_TEXT) row.text[item->iSubItem] = CutText(item->pszText);
  if (item->iSubItem == 0) {
    if (item->mask & LVIF_IMAGE) row.image = item->iImage;
    if (item->mask & LVIF_PARAM) row.param = item->lParam;
    if (item->mask & LVIF_STATE)
      row.state = (row.state & ~item->stateMask) | (item->state & item->stateMask);
  }
  return TRUE;
}

LRESULT Get(LVITEMW* item) {
  if (!Valid(item->iItem) || item->iSubItem < 0 || item->iSubItem >= kColumns) return FALSE;
  const Row& row = g_rows[static_cast<std::size_t>(item->iItem)];
  if (item->mask & LVIF_TEXT) CopyOut(row.text[item->iSubItem], item);
  if (item->mask & LVIF_IMAGE) item->iImage = row.image;
  if (item->mask & LVIF_PARAM) item->lParam = row.param;
  if (item->mask & LVIF_STATE) item->state = row.state & item->stateMask;
  return TRUE;
}

LRESULT SetState(int index, const LVITEMW* item) {
  auto apply = [&](Row& row) {
    row.state = (row.state & ~item->stateMask) | (item->state & item->stateMask);
  };
  if (index == -1) {
    for (Row& row : g_rows) apply(row);
    return TRUE;
  }
  if (!Valid(index)) return FALSE;
  apply(g_rows[static_cast<std::size_t>(index)]);
  return TRUE;
}

LRESULT Sort(LPARAM sortParam, PFNLVCOMPARE compare) {
  if (!compare) return FALSE;
  // The mark follows its row.
  const Row* marked = Valid(g_mark) ? &g_rows[static_cast<std::size_t>(g_mark)] : nullptr;
  std::vector<std::size_t> order(g_rows.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return compare(g_rows[a].param, g_rows[b].param, sortParam) < 0;
  });
  std::vector<Row> sorted;
  int mark = -1;
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (marked && &g_rows[order[i]] == marked) mark = static_cast<int>(i);
    sorted.push_back(std::move(g_rows[order[i]]));
  }
  g_rows = std::move(sorted);
  g_mark = mark;
  return TRUE;
}

LRESULT CALLBACK ListingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case LVM_GETITEMCOUNT:
      return static_cast<LRESULT>(g_rows.size());
    case LVM_DELETEALLITEMS:
      g_rows.clear();
      g_mark = -1;
      return TRUE;
    case LVM_DELETEITEM: {
      const int index = static_cast<int>(wParam);
      if (!Valid(index)) return FALSE;
      g_rows.erase(g_rows.begin() + index);
      if (g_mark == index) g_mark = -1;
      if (g_mark > index) --g_mark;
      return TRUE;
    }
    case LVM_INSERTITEMW:
      return Insert(reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_SETITEMW:
      return Set(reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_GETITEMW:
      return Get(reinterpret_cast<LVITEMW*>(lParam));
    case LVM_GETITEMTEXTW: {
      LVITEMW* item = reinterpret_cast<LVITEMW*>(lParam);
      const int index = static_cast<int>(wParam);
      if (!Valid(index) || item->iSubItem < 0 || item->iSubItem >= kColumns) return 0;
      CopyOut(g_rows[static_cast<std::size_t>(index)].text[item->iSubItem], item);
      return static_cast<LRESULT>(std::wcslen(item->pszText ? item->pszText : L""));
    }
    case LVM_SETITEMSTATE:
      return SetState(static_cast<int>(wParam), reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_GETITEMSTATE: {
      const int index = static_cast<int>(wParam);
      return Valid(index) ? g_rows[static_cast<std::size_t>(index)].state & lParam : 0;
    }
    case LVM_GETSELECTEDCOUNT:
      return std::count_if(g_rows.begin(), g_rows.end(),
                           [](const Row& row) { return (row.state & LVIS_SELECTED) != 0; });
    case LVM_GETSELECTIONMARK:
      return g_mark;
    case LVM_SETSELECTIONMARK: {
      const int old = g_mark;
      g_mark = static_cast<int>(lParam);
      return old;
    }
    case LVM_SORTITEMS:
      return Sort(static_cast<LPARAM>(wParam), reinterpret_cast<PFNLVCOMPARE>(lParam));
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

HWND CreateListingView() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = ListingProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"PalvoListing";
  if (!RegisterClassW(&windowClass)) return nullptr;
  return CreateWindowExW(0, L"PalvoListing", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

#endif  // _WIN32

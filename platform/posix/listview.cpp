// A list view without a window: the HWND from CreateListViewModel answers the
// LVM_ messages the core sends, through SendMessageW, as the common control
// does for a report view: rows with an item text, an icon index, a state
// (selected, focused) and an item parameter, the texts of sub-items 1 to 3
// (the window's size and date columns, and the exact size it does not show), a selection mark that
// follows its row when rows move, and a stable sort by a PFNLVCOMPARE callback. Texts longer than
// 259 units are cut. SendMessageW to any other window returns 0.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/posix_internal.h"

namespace {

constexpr int kColumns = 4;
constexpr int kTextUnits = MAX_PATH;  // 259 units and the terminator

// A row's texts are offsets into the model's text pool (0: the empty text),
// so a row costs its texts' length, not three whole MAX_PATH buffers.
struct Row {
  std::size_t text[kColumns];
  int image;
  UINT state;
  LPARAM param;
};

}  // namespace

// Rows live in one growable block and their texts in another: no allocation
// per row. A text that is replaced leaves its old copy in the pool until the
// pool next grows, when only the texts in use move over.
struct PosixWindow {
  Row* rows;
  int count;
  int capacity;
  int selectionMark;
  WCHAR* pool;
  std::size_t poolUsed;
  std::size_t poolSize;
};

namespace {

constexpr int kMaxModels = 16;
PosixWindow* g_models[kMaxModels];

bool IsModel(HWND window) {
  if (!window) return false;
  for (PosixWindow* m : g_models)
    if (m == window) return true;
  return false;
}

void CopyText(WCHAR* dst, int room, const WCHAR* src) {
  if (!dst || room <= 0) return;
  int i = 0;
  for (; src && src[i] && i + 1 < room; ++i) dst[i] = src[i];
  dst[i] = 0;
}

const WCHAR* TextOf(const PosixWindow* m, const Row& row, int column) {
  return row.text[column] ? m->pool + row.text[column] : L"";
}

// Stores src (cut to 259 units) as the row's text of that column.
bool SetText(PosixWindow* m, int index, int column, const WCHAR* src) {
  std::size_t n = 0;
  while (src && src[n] && n + 1 < kTextUnits) ++n;
  if (n == 0) {
    m->rows[index].text[column] = 0;
    return true;
  }
  if (m->poolUsed + n + 1 > m->poolSize) {
    std::size_t live = 1;
    for (int i = 0; i < m->count; ++i)
      for (int c = 0; c < kColumns; ++c)
        if (i != index || c != column)
          if (const std::size_t at = m->rows[i].text[c]) live += std::wcslen(m->pool + at) + 1;
    std::size_t size = m->poolSize ? m->poolSize : 4096;
    while (size < 2 * (live + n + 1)) size *= 2;
    WCHAR* pool = static_cast<WCHAR*>(std::malloc(sizeof(WCHAR) * size));
    if (!pool) return false;
    std::size_t used = 1;
    pool[0] = 0;
    for (int i = 0; i < m->count; ++i)
      for (int c = 0; c < kColumns; ++c) {
        std::size_t& at = m->rows[i].text[c];
        if (!at || (i == index && c == column)) continue;
        const std::size_t k = std::wcslen(m->pool + at) + 1;
        std::memcpy(pool + used, m->pool + at, sizeof(WCHAR) * k);
        at = used;
        used += k;
      }
    std::free(m->pool);
    m->pool = pool;
    m->poolUsed = used;
    m->poolSize = size;
  }
  std::memcpy(m->pool + m->poolUsed, src, sizeof(WCHAR) * n);
  m->pool[m->poolUsed + n] = 0;
  m->rows[index].text[column] = m->poolUsed;
  m->poolUsed += n + 1;
  return true;
}

// LPSTR_TEXTCALLBACKW asks the owner for the text later; there is no owner.
const WCHAR* GivenText(const LVITEMW* item) {
  return item->pszText == reinterpret_cast<LPWSTR>(-1) ? L"" : item->pszText;
}

void ApplyState(PosixWindow* m, int index, UINT state, UINT mask) {
  Row& row = m->rows[index];
  if ((mask & LVIS_FOCUSED) && (state & LVIS_FOCUSED))  // one focused row at most
    for (int i = 0; i < m->count; ++i) m->rows[i].state &= ~LVIS_FOCUSED;
  row.state = (row.state & ~mask) | (state & mask);
  if ((mask & state & LVIS_SELECTED) && m->selectionMark < 0) m->selectionMark = index;
}

LRESULT InsertItem(PosixWindow* m, const LVITEMW* item) {
  if (!item || item->iItem < 0 || item->iSubItem != 0) return -1;
  if (m->count == m->capacity) {
    const int grown = m->capacity ? m->capacity * 2 : 64;
    Row* rows = static_cast<Row*>(std::realloc(m->rows, sizeof(Row) * grown));
    if (!rows) return -1;
    m->rows = rows;
    m->capacity = grown;
  }
  const int at = std::min(item->iItem, m->count);
  std::memmove(m->rows + at + 1, m->rows + at, sizeof(Row) * (m->count - at));
  ++m->count;
  Row& row = m->rows[at];
  std::memset(&row, 0, sizeof row);
  if ((item->mask & LVIF_TEXT) && !SetText(m, at, 0, GivenText(item))) {
    std::memmove(m->rows + at, m->rows + at + 1, sizeof(Row) * (m->count - at - 1));
    --m->count;
    return -1;
  }
  if (item->mask & LVIF_IMAGE) row.image = item->iImage;
  if (item->mask & LVIF_PARAM) row.param = item->lParam;
  if (m->selectionMark >= at) ++m->selectionMark;
  if (item->mask & LVIF_STATE) ApplyState(m, at, item->state, item->stateMask);
  return at;
}

LRESULT SetItem(PosixWindow* m, const LVITEMW* item) {
  if (!item || item->iItem < 0 || item->iItem >= m->count || item->iSubItem < 0 ||
      item->iSubItem >= kColumns)
    return FALSE;
  Row& row = m->rows[item->iItem];
  if ((item->mask & LVIF_TEXT) && !SetText(m, item->iItem, item->iSubItem, GivenText(item)))
    return FALSE;
  if (item->iSubItem == 0) {
    if (item->mask & LVIF_IMAGE) row.image = item->iImage;
    if (item->mask & LVIF_PARAM) row.param = item->lParam;
    if (item->mask & LVIF_STATE) ApplyState(m, item->iItem, item->state, item->stateMask);
  }
  return TRUE;
}

LRESULT GetItem(const PosixWindow* m, LVITEMW* item) {
  if (!item || item->iItem < 0 || item->iItem >= m->count || item->iSubItem < 0 ||
      item->iSubItem >= kColumns)
    return FALSE;
  const Row& row = m->rows[item->iItem];
  if (item->mask & LVIF_TEXT)
    CopyText(item->pszText, item->cchTextMax, TextOf(m, row, item->iSubItem));
  if (item->mask & LVIF_IMAGE) item->iImage = row.image;
  if (item->mask & LVIF_PARAM) item->lParam = row.param;
  if (item->mask & LVIF_STATE) item->state = row.state & item->stateMask;
  return TRUE;
}

// The number of units copied, terminator not counted.
LRESULT GetItemText(const PosixWindow* m, int index, LVITEMW* item) {
  if (!item || !item->pszText || item->cchTextMax <= 0) return 0;
  if (index < 0 || index >= m->count || item->iSubItem < 0 || item->iSubItem >= kColumns) {
    item->pszText[0] = 0;
    return 0;
  }
  CopyText(item->pszText, item->cchTextMax, TextOf(m, m->rows[index], item->iSubItem));
  return static_cast<LRESULT>(std::wcslen(item->pszText));
}

LRESULT DeleteItem(PosixWindow* m, int index) {
  if (index < 0 || index >= m->count) return FALSE;
  std::memmove(m->rows + index, m->rows + index + 1, sizeof(Row) * (m->count - index - 1));
  --m->count;
  if (m->selectionMark == index)
    m->selectionMark = -1;
  else if (m->selectionMark > index)
    --m->selectionMark;
  return TRUE;
}

LRESULT SortItems(PosixWindow* m, LPARAM sortParam, PFNLVCOMPARE compare) {
  if (!compare) return FALSE;
  if (m->count < 2) return TRUE;
  std::vector<int> order(m->count);
  for (int i = 0; i < m->count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return compare(m->rows[a].param, m->rows[b].param, sortParam) < 0;
  });
  Row* sorted = static_cast<Row*>(std::malloc(sizeof(Row) * m->capacity));
  if (!sorted) return FALSE;
  int mark = -1;
  for (int i = 0; i < m->count; ++i) {
    sorted[i] = m->rows[order[i]];
    if (order[i] == m->selectionMark) mark = i;
  }
  std::free(m->rows);
  m->rows = sorted;
  m->selectionMark = mark;
  return TRUE;
}

LRESULT SetItemState(PosixWindow* m, int index, const LVITEMW* item) {
  if (!item) return FALSE;
  if (index == -1) {
    for (int i = 0; i < m->count; ++i) ApplyState(m, i, item->state, item->stateMask);
    return TRUE;
  }
  if (index < 0 || index >= m->count) return FALSE;
  ApplyState(m, index, item->state, item->stateMask);
  return TRUE;
}

}  // namespace

HWND CreateListViewModel() {
  for (PosixWindow*& slot : g_models) {
    if (slot) continue;
    slot = static_cast<PosixWindow*>(std::calloc(1, sizeof(PosixWindow)));
    if (slot) slot->selectionMark = -1;
    return slot;
  }
  return nullptr;
}

void DestroyListViewModel(HWND window) {
  for (PosixWindow*& slot : g_models) {
    if (slot != window || !slot) continue;
    std::free(slot->rows);
    std::free(slot->pool);
    std::free(slot);
    slot = nullptr;
  }
}

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!IsModel(window)) return 0;
  PosixWindow* m = window;
  LVITEMW* item = reinterpret_cast<LVITEMW*>(lParam);
  switch (message) {
    case LVM_INSERTITEMW:
      return InsertItem(m, item);
    case LVM_SETITEMW:
      return SetItem(m, item);
    case LVM_GETITEMW:
      return GetItem(m, item);
    case LVM_GETITEMTEXTW:
      return GetItemText(m, static_cast<int>(wParam), item);
    case LVM_DELETEITEM:
      return DeleteItem(m, static_cast<int>(wParam));
    case LVM_DELETEALLITEMS:
      m->count = 0;
      m->selectionMark = -1;
      m->poolUsed = 1;  // offset 0 stays the empty text
      return TRUE;
    case LVM_GETITEMCOUNT:
      return m->count;
    case LVM_SORTITEMS:
      return SortItems(m, static_cast<LPARAM>(wParam), reinterpret_cast<PFNLVCOMPARE>(lParam));
    case LVM_SETITEMSTATE:
      return SetItemState(m, static_cast<int>(wParam), item);
    case LVM_GETITEMSTATE: {
      const int index = static_cast<int>(wParam);
      if (index < 0 || index >= m->count) return 0;
      return m->rows[index].state & static_cast<UINT>(lParam);
    }
    case LVM_GETSELECTEDCOUNT: {
      int n = 0;
      for (int i = 0; i < m->count; ++i) n += (m->rows[i].state & LVIS_SELECTED) ? 1 : 0;
      return n;
    }
    case LVM_GETSELECTIONMARK:
      return m->selectionMark;
    case LVM_SETSELECTIONMARK: {
      const int previous = m->selectionMark;
      m->selectionMark = static_cast<int>(lParam);
      return previous;
    }
    default:
      return 0;
  }
}

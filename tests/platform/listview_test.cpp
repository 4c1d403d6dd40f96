// The list view model: rows, texts, sorting and selection as the core uses them.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32.h"

namespace {

int CALLBACK Descending(LPARAM a, LPARAM b, LPARAM) { return a > b ? -1 : a < b ? 1 : 0; }

}  // namespace

class ListViewTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(list, nullptr); }
  void TearDown() override { DestroyListViewModel(list); }

  LRESULT Insert(int at, const WCHAR* text, int image, LPARAM param) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = at;
    item.pszText = const_cast<LPWSTR>(text);
    item.iImage = image;
    item.lParam = param;
    return SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  void SetText(int row, int column, const WCHAR* text) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = const_cast<LPWSTR>(text);
    EXPECT_TRUE(SendMessageW(list, LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  }
  std::wstring Text(int row, int column = 0) {
    WCHAR buf[MAX_PATH] = L"?";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = buf;
    item.cchTextMax = MAX_PATH;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buf;
  }
  void Select(int row, bool on) {
    LVITEMW item = {};
    item.state = on ? LVIS_SELECTED : 0;
    item.stateMask = LVIS_SELECTED;
    EXPECT_TRUE(SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item)));
  }
  LRESULT Send(UINT message, WPARAM w = 0, LPARAM l = 0) {
    return SendMessageW(list, message, w, l);
  }

  HWND list = CreateListViewModel();
};

TEST_F(ListViewTest, InsertClampsAndSortIsStableByDescendingKey) {
  EXPECT_EQ(Insert(0, L"bookmark.txt", 5, 2147483647), 0);
  EXPECT_EQ(Insert(99, L"old.jpg", 0, 100), 1);  // past the end: appended
  EXPECT_EQ(Insert(2, L"new.mid", 1, 900), 2);
  EXPECT_EQ(Insert(3, L"same-a.txt", 4, 500), 3);
  EXPECT_EQ(Insert(4, L"same-b.txt", 4, 500), 4);
  EXPECT_EQ(Insert(1, L"first.txt", 4, 50), 1);  // in between
  EXPECT_EQ(Insert(-1, L"x", 0, 0), -1);
  EXPECT_EQ(Send(LVM_GETITEMCOUNT), 6);
  SetText(2, 1, L"10K");
  SetText(2, 2, L"2007/03/04 05:06");

  Select(2, true);  // old.jpg: the mark goes with it through the sort
  EXPECT_EQ(Send(LVM_GETSELECTIONMARK), 2);
  EXPECT_TRUE(Send(LVM_SORTITEMS, 7, reinterpret_cast<LPARAM>(&Descending)));
  const WCHAR* order[] = {L"bookmark.txt", L"new.mid", L"same-a.txt",
                          L"same-b.txt",   L"old.jpg", L"first.txt"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(Text(i), order[i]) << i;
  EXPECT_EQ(Text(4, 1), L"10K");
  EXPECT_EQ(Text(4, 2), L"2007/03/04 05:06");
  EXPECT_EQ(Send(LVM_GETSELECTIONMARK), 4);

  LVITEMW item = {};
  WCHAR buf[MAX_PATH];
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
  item.iItem = 4;
  item.stateMask = LVIS_SELECTED;
  item.pszText = buf;
  item.cchTextMax = MAX_PATH;
  ASSERT_TRUE(Send(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  EXPECT_EQ(std::wstring(buf), L"old.jpg");
  EXPECT_EQ(item.iImage, 0);
  EXPECT_EQ(item.lParam, 100);
  EXPECT_EQ(item.state, static_cast<UINT>(LVIS_SELECTED));
  item.iItem = 6;
  EXPECT_FALSE(Send(LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

TEST_F(ListViewTest, SelectionCountMarkAndDeletion) {
  for (int i = 0; i < 4; ++i) Insert(i, L"row", 0, i);
  EXPECT_EQ(Send(LVM_GETSELECTEDCOUNT), 0);
  EXPECT_EQ(Send(LVM_GETSELECTIONMARK), -1);
  Select(-1, true);  // every row
  EXPECT_EQ(Send(LVM_GETSELECTEDCOUNT), 4);
  Select(1, false);
  EXPECT_EQ(Send(LVM_GETSELECTEDCOUNT), 3);
  EXPECT_EQ(Send(LVM_GETITEMSTATE, 1, LVIS_SELECTED), 0);
  EXPECT_EQ(Send(LVM_GETITEMSTATE, 2, LVIS_SELECTED | LVIS_FOCUSED),
            static_cast<LRESULT>(LVIS_SELECTED));
  EXPECT_EQ(Send(LVM_SETSELECTIONMARK, 0, 3), 0);  // returns the old mark
  EXPECT_TRUE(Send(LVM_DELETEITEM, 1));
  EXPECT_EQ(Send(LVM_GETSELECTIONMARK), 2);  // its row moved up
  EXPECT_TRUE(Send(LVM_DELETEITEM, 2));
  EXPECT_EQ(Send(LVM_GETSELECTIONMARK), -1);
  EXPECT_FALSE(Send(LVM_DELETEITEM, 7));
  EXPECT_EQ(Send(LVM_GETITEMCOUNT), 2);
  EXPECT_TRUE(Send(LVM_DELETEALLITEMS));
  EXPECT_EQ(Send(LVM_GETITEMCOUNT), 0);
  EXPECT_EQ(Send(LVM_GETSELECTEDCOUNT), 0);
}

TEST_F(ListViewTest, TextsAreCutSafely) {
  const std::wstring longName(400, L'長');
  Insert(0, longName.c_str(), 0, 0);
  EXPECT_EQ(Text(0), longName.substr(0, MAX_PATH - 1));
  WCHAR small[5] = {L'#', L'#', L'#', L'#', L'#'};
  LVITEMW item = {};
  item.pszText = small;
  item.cchTextMax = 4;
  EXPECT_EQ(Send(LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item)), 3);
  EXPECT_EQ(small[3], 0);
  EXPECT_EQ(small[4], L'#');   // nothing past cchTextMax
  EXPECT_EQ(Text(0, 1), L"");  // sub-items start empty

  // Other windows (and destroyed models) answer nothing.
  EXPECT_EQ(SendMessageW(nullptr, LVM_GETITEMCOUNT, 0, 0), 0);
  HWND other = CreateListViewModel();
  Insert(0, L"x", 0, 0);
  DestroyListViewModel(other);
  EXPECT_EQ(SendMessageW(other, LVM_GETITEMCOUNT, 0, 0), 0);
}

// Texts share one pool that grows and drops replaced texts: every row keeps its
// own texts through growth, replacement, deletion and clearing.
TEST_F(ListViewTest, TextsSurviveThePoolGrowing) {
  auto name = [](int i, int c) { return std::to_wstring(i) + L"/" + std::to_wstring(c); };
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(Insert(i, name(i, 0).c_str(), 0, i), i);
    SetText(i, 1, name(i, 1).c_str());
    SetText(i, 2, std::wstring(200, L'あ').c_str());
    SetText(i, 2, name(i, 2).c_str());  // the long one becomes garbage
    if (i % 7 == 0) SetText(i, 1, L"");
  }
  Send(LVM_DELETEITEM, 0);
  ASSERT_EQ(Send(LVM_GETITEMCOUNT), 2999);
  for (int i = 1; i < 3000; i += 13) {
    EXPECT_EQ(Text(i - 1, 0), name(i, 0));
    EXPECT_EQ(Text(i - 1, 1), i % 7 == 0 ? L"" : name(i, 1));
    EXPECT_EQ(Text(i - 1, 2), name(i, 2));
  }
  Send(LVM_DELETEALLITEMS);
  Insert(0, L"again", 0, 0);
  EXPECT_EQ(Text(0), L"again");
  EXPECT_EQ(Text(0, 1), L"");
}

// The listing as the list view holds it, and its printer: a table fitted to
// the terminal, or TAB-separated lines for scripts.
#include "download/listing.h"

#include <algorithm>
#include <string>

#include "cli/cli.h"

int RowCount() { return static_cast<int>(SendMessageW(g_listView, LVM_GETITEMCOUNT, 0, 0)); }

// The text of a cell, in text or in the control's own copy; no allocation.
const WCHAR* CellText(int row, int column, WCHAR (&text)[kPathUnits], int* icon) {
  text[0] = 0;
  LVITEMW item = {};
  item.mask = LVIF_TEXT | (icon ? LVIF_IMAGE : 0u);
  item.iItem = row;
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = kPathUnits;
  SendMessageW(g_listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  text[kPathUnits - 1] = 0;
  if (icon) *icon = item.iImage;
  // The control may answer with a pointer to its own copy of the text.
  return item.pszText ? item.pszText : text;
}

void SelectRow(int row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED;
  item.state = LVIS_SELECTED;
  SendMessageW(g_listView, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
               reinterpret_cast<LPARAM>(&item));
}

namespace {

// One line per row: today's four columns first, in their order (scripts count
// on them), then the exact size.
void PrintTsv(int rows, bool header) {
  WCHAR name[kPathUnits], size[kPathUnits], date[kPathUnits], exact[kPathUnits];
  std::string line;
  if (header) WriteText(stdout, "icon\tname\tsize\tdate\tbytes\n");
  for (int i = 0; i < rows; ++i) {
    int icon = 0;
    const WCHAR* n = CellText(i, 0, name, &icon);
    line.clear();
    line += std::to_string(icon);
    line += '\t';
    AppendText(line, n, true);
    line += '\t';
    AppendText(line, CellText(i, 1, size), true);
    line += '\t';
    AppendText(line, CellText(i, 2, date), true);
    line += '\t';
    AppendText(line, CellText(i, kExactSizeColumn, exact), true);
    line += '\n';
    WriteText(stdout, line);
  }
}

void PrintTable(int rows) {
  WCHAR name[kPathUnits], size[kPathUnits], date[kPathUnits];
  std::string line;
  const WCHAR* const heading[3] = {L"名前", L"サイズ", L"更新日時"};
  int nameWidth = DisplayWidth(heading[0]), sizeWidth = DisplayWidth(heading[1]);
  int dateWidth = DisplayWidth(heading[2]);
  for (int i = 0; i < rows; ++i) {
    nameWidth = std::max(nameWidth, DisplayWidth(CellText(i, 0, name)));
    sizeWidth = std::max(sizeWidth, DisplayWidth(CellText(i, 1, size)));
    dateWidth = std::max(dateWidth, DisplayWidth(CellText(i, 2, date)));
  }
  // On a terminal the lines fit its width: long names are cut, the size and
  // date columns stay where they are. Never narrower than the heading.
  if (const int columns = TerminalColumns(stdout); columns > 0) {
    const int room = columns - (2 + sizeWidth + 2 + dateWidth);
    nameWidth = std::max(std::min(nameWidth, room), DisplayWidth(heading[0]));
  }
  // Name left, size right-aligned, date left; columns two blanks apart.
  auto print = [&](const WCHAR* n, const WCHAR* s, const WCHAR* d) {
    line.clear();
    const int taken = AppendCut(line, n, nameWidth);
    line.append(static_cast<std::size_t>(nameWidth - taken + 2), ' ');
    line.append(static_cast<std::size_t>(sizeWidth - DisplayWidth(s)), ' ');
    AppendText(line, s, true);
    if (*d) {
      line += "  ";
      AppendText(line, d, true);
    }
    line += '\n';
    WriteText(stdout, line);
  };
  print(heading[0], heading[1], heading[2]);
  for (int i = 0; i < rows; ++i)
    print(CellText(i, 0, name), CellText(i, 1, size), CellText(i, 2, date));
}

}  // namespace

// Row by row, straight from the list view: a listing of any length costs no
// memory of its own beyond one line.
void PrintListing(bool tsv, bool header) {
  if (tsv) {
    PrintTsv(RowCount(), header);
  } else {
    PrintTable(RowCount());
  }
}

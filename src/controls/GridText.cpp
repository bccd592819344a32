#include "controls/GridText.h"

#include <algorithm>

#include "controls/DataGrid.h"

namespace fm {

std::vector<std::vector<std::string>> GridText(DataGrid& grid, GridRows rows, bool withCaptions) {
  std::vector<int> columns;
  for (int i = 0; i < grid.ColumnCount(); ++i) {
    if (grid.Column(i).Visible()) columns.push_back(i);
  }
  std::vector<long> indexes;
  if (rows == GridRows::All) {
    grid.LoadRows(0, grid.RowCount());
    for (long i = 0; i < grid.RowCount(); ++i) indexes.push_back(i);
  } else {
    for (const DataGrid::Bookmark bookmark : grid.SelectedBookmarks()) {
      const long index = grid.IndexOf(bookmark);
      if (index >= 0) indexes.push_back(index);
    }
    // In the order the grid shows them, not the order they were picked in.
    std::sort(indexes.begin(), indexes.end());
    for (const long index : indexes) grid.LoadRows(index, 1);
  }

  std::vector<std::vector<std::string>> text;
  text.reserve(indexes.size() + 1);
  if (withCaptions) {
    std::vector<std::string>& captions = text.emplace_back();
    for (const int column : columns) captions.push_back(grid.Column(column).Caption());
  }
  for (const long index : indexes) {
    std::vector<std::string>& record = text.emplace_back();
    record.reserve(columns.size());
    for (const int column : columns) record.push_back(grid.CellTextAt(index, column));
  }
  return text;
}

}  // namespace fm

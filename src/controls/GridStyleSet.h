#pragma once

#include <string>

namespace fm {

class DataGrid;

// A named style set of a data grid that columns use for their cells or headings. Only the
// font's weight is modelled; the renderer draws the rest in its own look.
class GridStyleSet {
 public:
  GridStyleSet(DataGrid& grid, std::string name) : mGrid(&grid), mName(std::move(name)) {}
  GridStyleSet(const GridStyleSet&) = delete;
  GridStyleSet& operator=(const GridStyleSet&) = delete;

  const std::string& Name() const { return mName; }
  bool Bold() const { return mBold; }
  void SetBold(bool bold);

 private:
  DataGrid* mGrid;
  std::string mName;
  bool mBold = false;
};

}  // namespace fm

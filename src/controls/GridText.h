#pragma once

#include <string>
#include <vector>

namespace fm {

class DataGrid;

// The text of a grid as its visible columns show it, for copying and exporting: the
// captions of the visible columns, then one record per row with those columns' cells
// (computed cells included). Rows come in the grid's order. Rows not loaded yet are loaded,
// which runs the grid's row-loaded handler for them, as showing them would.
enum class GridRows { All, Selected };
std::vector<std::vector<std::string>> GridText(DataGrid& grid, GridRows rows, bool withCaptions);

}  // namespace fm

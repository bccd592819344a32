#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Form.h"
#include "platform/Recordset.h"

namespace fm::testing {

// Rows with FRM_FORM_NBR 100, 200, ...; TRP_ID "A", "B", ...; TRP_DIST_ID 1 to 9; the
// comment "note <row>" on even rows, null on odd ones.
inline std::shared_ptr<Recordset> MakeRanges(int rows) {
  auto rs = std::make_shared<Recordset>(
      std::vector<FieldDef>{{"FRM_FORM_NBR", FieldType::Integer, 0},
                            {"TRP_ID", FieldType::Text, 1},
                            {"TRP_DIST_ID", FieldType::Text, 2},
                            {"TRP_FORM_CMMT_TXT", FieldType::Text, 254}});
  for (int i = 0; i < rows; ++i) {
    rs->AddNew();
    rs->SetValue("FRM_FORM_NBR", Value((i + 1) * 100));
    rs->SetValue("TRP_ID", Value(std::string(1, static_cast<char>('A' + i % 26))));
    rs->SetValue("TRP_DIST_ID", Value(std::to_string(i % 9 + 1)));
    if (i % 2 == 0) rs->SetValue("TRP_FORM_CMMT_TXT", Value("note " + std::to_string(i)));
    rs->Update();
  }
  if (rows > 0) rs->MoveFirst();
  return rs;
}

// A grid laid out as the assignment grid: a computed Troop/District first, hidden bound
// columns, and a row-loaded handler that fills the computed cell from the row's own cells,
// as the screen does. `loads` counts the handler's calls per row.
class RangeGridTest : public ::testing::Test {
 protected:
  RangeGridTest() {
    grid.AddColumn("Troop/District", "TroopDistrict", "", true, 2090);
    grid.AddColumn("From Range", "FRM_FORM_NBR", "FRM_FORM_NBR", true, 2037);
    grid.AddColumn("TRP_ID", "TRP_ID", "TRP_ID", false, 3200);
    grid.AddColumn("TRP_DIST_ID", "TRP_DIST_ID", "TRP_DIST_ID", false, 3200);
    grid.AddColumn("Comment", "TRP_FORM_CMMT_TXT", "TRP_FORM_CMMT_TXT", true, 5239);
    grid.SetDataSource(&ado);
    grid.RowLoaded.Connect([this](DataGrid::Bookmark row) {
      ++loads[row];
      grid.SetCell(row, "TROOPDISTRICT",
                   grid.CellText(row, "TRP_ID") + grid.CellText(row, "TRP_DIST_ID"));
    });
  }
  int TotalLoads() const {
    int total = 0;
    for (const auto& [row, count] : loads) total += count;
    return total;
  }

  Form form{"TARVO_FormsMaint"};
  DataControl& ado = form.Add<DataControl>("adoFormsAssignment");
  DataGrid& grid = form.Add<DataGrid>("grdFormsAssignment");
  std::map<DataGrid::Bookmark, int> loads;
};

}  // namespace fm::testing

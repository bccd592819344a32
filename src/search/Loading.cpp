// Loading a reply's data sets into the grids, and the officer-name look-up.

#include <string>

#include "base/Text.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/Recordset.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"

namespace fm {

namespace {

// Shows a freshly bound data set from its first row; the redraw was switched off while
// binding so that the grid draws once.
void ShowFromFirstRow(DataGrid& grid) {
  grid.Refresh();
  grid.MoveFirst();  // the first row becomes the current row
  grid.SetRedraw(true);
}

}  // namespace

bool TARVO_FormsMaint::LoadForms() {
  bool found = false;
  Trap("TARVO_FormsMaint.LoadForms", [&] {
    auto replies = Services::Replies();
    auto forms = replies->Get("TROOPFORM", mHost.mDocumentIdentity, mSearch.mRequestId);
    if (!forms) {
      // A reply without ranges still leaves the document a data set of the right layout,
      // registered where later look-ups of this document expect it.
      forms = NewTemplateDataSet("TROOPFORM");
      replies->Put(forms, "TROOPFORM", mHost.mDocumentIdentity);
    }
    mData.mFormsAssignment = forms;
    grdFormsAssignment.SetRedraw(false);
    adoFormsAssignment.SetRecordset(forms->RecordsetPtr());
    if (forms->RecordCount() > 0) found = true;
    ShowFromFirstRow(grdFormsAssignment);
  });
  return found;
}

bool TARVO_FormsMaint::LoadOfficers() {
  bool found = false;
  Trap("TARVO_FormsMaint.LoadOfficers", [&] {
    mData.mOfficerList.reset();
    auto officers =
        Services::Replies()->Get("OFFICER", mHost.mDocumentIdentity, mSearch.mRequestId);
    if (!officers) officers = NewTemplateDataSet("OFFICER");
    mData.mOfficerList = officers;
    grdOfficerList.SetRedraw(false);
    adoOfficerList.SetRecordset(officers->RecordsetPtr());
    if (officers->RecordCount() > 0) found = true;
    ShowFromFirstRow(grdOfficerList);
  });
  return found;
}

std::string TARVO_FormsMaint::AssembleOfficerSQL() {
  std::string sql;
  Trap("TARVO_FormsMaint.AssembleOfficerSQL", [&] {
    const std::string region = text::ToUpper(text::Trim(Services::Settings().Region()));
    sql = std::string("Select * From MVE061TB Where ") + "REGION" + "='" + region + "'" +
          " Order By Insp_Id";
  });
  return sql;
}

std::string TARVO_FormsMaint::GetOfcrName(std::int32_t registry) {
  std::string name;
  Trap("TARVO_FormsMaint.GetOfcrName", [&] {
    std::string last;
    std::string first;
    std::string middle;
    // Read once per document: every row of the assignment grid asks for a name, and the
    // region's officers fit in memory many times over.
    if (!mSearch.mOfficerLookup) {
      auto officers = std::make_shared<DataSet>();
      officers->SetSource(AssembleOfficerSQL());
      officers->Open();
      mSearch.mOfficerLookup =
          officers;  // kept only once it could be read, so a failure is retried
    }
    Recordset& rows = mSearch.mOfficerLookup->GetRecordset();
    if (rows.RecordCount() > 0) rows.MoveFirst();
    if (rows.Find("INSP_ID = " + std::to_string(registry))) {
      last = text::Trim(rows.GetText("INSP_NME_LST"));
      first = text::Trim(rows.GetText("INSP_NME_FRST"));
      middle = text::Trim(rows.GetText("INSP_NME_MDL_INT"));
    }
    name = last + "," + first + "," + middle;
  });
  return name;
}

}  // namespace fm

// The document's three working data sets and the clearing of the current criteria.

#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/DataSetTemplates.h"
#include "platform/ErrorTrap.h"

namespace fm {

void TARVO_FormsMaint::InitializeRecordSets() {
  Trap("TARVO_FormsMaint.InitializeRecordSets", [&] {
    mFormsAssignment = NewTemplateDataSet("TROOPFORM");
    adoFormsAssignment.SetRecordset(mFormsAssignment->RecordsetPtr());

    mOfficerList = NewTemplateDataSet("OFFICER");
    adoOfficerList.SetRecordset(mOfficerList->RecordsetPtr());

    // Rows not yet saved are dropped without a question: the callers only run this in the
    // views where the new-forms grid is not in use.
    mNewForms = NewTemplateDataSet("TROOPFORM");
    adoNewForms.SetRecordset(mNewForms->RecordsetPtr());

    mLastSearch.troop.clear();
    mLastSearch.district.clear();
    mLastSearch.formType.clear();

    for (DataGrid* grid : {&grdFormsAssignment, &grdOfficerList, &grdNewForms}) {
      grid->SetRedraw(true);
      grid->Refresh();
    }
  });
}

void TARVO_FormsMaint::InitializeSearchVariables() {
  Trap("TARVO_FormsMaint.InitializeSearchVariables", [&] {
    mCurrent.troop.clear();
    mCurrent.district.clear();
    mCurrent.formType.clear();
    mCurrent.registry.clear();
  });
}

}  // namespace fm

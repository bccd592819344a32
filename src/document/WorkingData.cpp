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
    mData.mFormsAssignment = NewTemplateDataSet("TROOPFORM");
    adoFormsAssignment.SetRecordset(mData.mFormsAssignment->RecordsetPtr());

    mData.mOfficerList = NewTemplateDataSet("OFFICER");
    adoOfficerList.SetRecordset(mData.mOfficerList->RecordsetPtr());

    // Rows not yet saved are dropped without a question: the callers only run this in the
    // views where the new-forms grid is not in use.
    mData.mNewForms = NewTemplateDataSet("TROOPFORM");
    adoNewForms.SetRecordset(mData.mNewForms->RecordsetPtr());

    mSearch.mLastSearch.troop.clear();
    mSearch.mLastSearch.district.clear();
    mSearch.mLastSearch.formType.clear();

    for (DataGrid* grid : {&grdFormsAssignment, &grdOfficerList, &grdNewForms}) {
      grid->SetRedraw(true);
      grid->Refresh();
    }
  });
}

void TARVO_FormsMaint::InitializeSearchVariables() {
  Trap("TARVO_FormsMaint.InitializeSearchVariables", [&] {
    mSearch.mCurrent.troop.clear();
    mSearch.mCurrent.district.clear();
    mSearch.mCurrent.formType.clear();
    mSearch.mCurrent.registry.clear();
  });
}

}  // namespace fm

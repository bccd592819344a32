// Change Troop/District and Add Troopers: the document's side of the two dialogs.

#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"

namespace fm {

void TARVO_FormsMaint::ProcessCmdButtonChangeTroopDistrictClick() {
  Trap("TARVO_FormsMaint.ProcessCmdButtonChangeTroopDistrictClick", [] {});
}

void TARVO_FormsMaint::ProcessCmdButtonAddOfficersClick() {
  Trap("TARVO_FormsMaint.ProcessCmdButtonAddOfficersClick", [] {});
}

void TARVO_FormsMaint::mEventAddOfficer_SendOK(std::shared_ptr<DataSet> /*addedOfficers*/) {
  Trap("TARVO_FormsMaint.mEventAddOfficer_SendOK", [] {});
}

}  // namespace fm

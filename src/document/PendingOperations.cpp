// Operations whose dialogs are not built yet; each file that implements one removes it
// from here.

#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"

namespace fm {

void TARVO_FormsMaint::ProcessCmdButtonAssignUnAssignClick(std::int16_t& /*index*/) {
  Trap("TARVO_FormsMaint.ProcessCmdButtonAssignUnAssignClick", [] {});
}

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

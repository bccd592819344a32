// Assign, unassign and void: the document's side of the assignment dialog.

#include "document/TARVO_FormsMaint.h"
#include "platform/ErrorTrap.h"

namespace fm {

void TARVO_FormsMaint::ProcessCmdButtonAssignUnAssignClick(std::int16_t& /*index*/) {
  Trap("TARVO_FormsMaint.ProcessCmdButtonAssignUnAssignClick", [] {});
}

}  // namespace fm

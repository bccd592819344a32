#include "common/CodesTable.h"

namespace fm {

// The class exists for the component's clients; nothing in the component looks a code up
// through it, so it keeps neither value.
void CodesTable::SetId(const std::string& /*id*/) {}

void CodesTable::SetCode(const std::string& /*code*/) {}

std::string CodesTable::Description() const { return {}; }

std::string CodesTable::AdditionalInformation() const { return {}; }

}  // namespace fm

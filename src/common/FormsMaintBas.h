#pragma once

#include <cstdint>
#include <string>

namespace fm {

// The display form of an officer's name: "LAST, FIRST M." in upper case, with the ",jr" /
// ",sr" suffix written into the last name repaired to ", JR" / ", SR". Every officer
// column of the screen shows names this way. On a failure it is reported under
// "TARVO_FormsMaintBas.ProperName" and the text built so far is answered.
std::string ProperName(const std::string& lastName, const std::string& firstName,
                       const std::string& middleName, const std::string& suffix);

// The current view mode of the component: 0 Forms Assignment, 1 New Forms, 2 Inactive
// Forms. Component-wide, as the delisting-reason list of the assignment dialog reads it.
// Setting any other value throws PlatformError.
enum ViewMode : std::int16_t { kFormsAssignment = 0, kNewForms = 1, kInactiveForms = 2 };
std::int16_t CurrentViewMode();
void SetCurrentViewMode(std::int16_t mode);

}  // namespace fm

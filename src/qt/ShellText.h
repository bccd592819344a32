#pragma once

#include <QString>
#include <string>
#include <utility>
#include <vector>

namespace fm::qt {

// The entries of a code table of the local database for the installation's region (code and
// description, by description), as the screen's code combos list them: "FORMTYPE" for the
// form types. Empty when the database cannot be read (the reason goes to the error reporter).
std::vector<std::pair<std::string, std::string>> LocalCodeEntries(const std::string& codeType);

// A UTC stamp of the server ("2026-11-02T14:05:00.000Z") as the clerk's comment stamps show
// a time, in the workstation's own zone: "11/02/2026 09:05:00 AM". A text that is not a
// stamp is shown as it is.
QString LocalTimeText(const std::string& utc);

}  // namespace fm::qt

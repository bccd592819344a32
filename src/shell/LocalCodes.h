#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fm::shell {

// Entries of a code table: code and description.
using CodeEntries = std::vector<std::pair<std::string, std::string>>;

// The entries of a code table of the local database for the installation's region (code and
// description, by description), as the screen's code combos list them: "FORMTYPE" for the
// form types. Empty when the database cannot be read (the reason goes to the error reporter).
CodeEntries LocalCodeEntries(const std::string& codeType);

// The index of `code` (blanks around it ignored) among `entries`; -1 when it is not there.
int CodeIndex(const CodeEntries& entries, const std::string& code);

}  // namespace fm::shell

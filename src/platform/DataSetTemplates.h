#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/Recordset.h"

namespace fm {

// The named row layouts of the common library. "TROOPFORM" is one range of forms,
// "OFFICER" one trooper; the server's replies carry rows of the same layouts.
// Form numbers, counts, quarter, year and registry numbers are Integer; dates are ISO
// texts; everything else is Text.
//
// Answers the columns of a template by name (letter case ignored), or nothing.
std::optional<std::vector<FieldDef>> TemplateFields(std::string_view name);

inline constexpr std::string_view kTroopFormTemplate = "TROOPFORM";
inline constexpr std::string_view kOfficerTemplate = "OFFICER";

}  // namespace fm

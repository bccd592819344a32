#include "shell/LocalCodes.h"

#include "base/Text.h"
#include "platform/ErrorTrap.h"
#include "platform/LocalDatabase.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/Value.h"

namespace fm::shell {

CodeEntries LocalCodeEntries(const std::string& codeType) {
  CodeEntries entries;
  Trap("LocalCodes.LocalCodeEntries", [&] {
    auto database = Services::Database();
    if (!database) return;
    const std::string region = text::ToUpper(text::Trim(Services::Settings().Region()));
    auto rows = database->Query(
        "SELECT CD_TBL_CD, CD_TBL_DES FROM RVO_CODE WHERE REGION = ? AND CD_TBL_ID = ? "
        "AND EFCTV_DT <= date() AND (END_DT IS NULL OR END_DT >= date()) ORDER BY CD_TBL_DES",
        {Value(region), Value(codeType)});
    for (long i = 0; i < rows->RecordCount(); ++i) {
      entries.emplace_back(text::Trim(rows->ValueAt(i, 0).ToText()),
                           text::Trim(rows->ValueAt(i, 1).ToText()));
    }
  });
  return entries;
}

int CodeIndex(const CodeEntries& entries, const std::string& code) {
  const std::string wanted = text::Trim(code);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].first == wanted) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace fm::shell

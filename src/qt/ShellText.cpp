#include "qt/ShellText.h"

#include <QDateTime>

#include "base/Text.h"
#include "platform/ErrorTrap.h"
#include "platform/LocalDatabase.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/Value.h"
#include "qt/QtText.h"

namespace fm::qt {

std::vector<std::pair<std::string, std::string>> LocalCodeEntries(const std::string& codeType) {
  std::vector<std::pair<std::string, std::string>> entries;
  Trap("ShellText.LocalCodeEntries", [&] {
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

QString LocalTimeText(const std::string& utc) {
  const QDateTime time = QDateTime::fromString(ToQString(utc), Qt::ISODateWithMs);
  if (!time.isValid()) return ToQString(utc);
  return time.toLocalTime().toString(QStringLiteral("MM/dd/yyyy hh:mm:ss AP"));
}

}  // namespace fm::qt

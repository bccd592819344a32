// Descriptions of form-type and status codes, read from the local code table.
//
// Nothing is kept between calls: a description changed in the code table shows on the next
// row loaded, without restarting the screen.

#include <memory>
#include <string>

#include "base/Text.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"

namespace fm {

std::string TARVO_FormsMaint::FormDescription(std::string& code) {
  std::string description;
  Trap("TARVO_FormsMaint.FormDescription", [&] {
    if (!mEntry.mCodeLookup) {
      const std::string& region = Services::Settings().Region();
      auto lookup = std::make_shared<DataSet>();
      lookup->SetSource(std::string("Select * From RVO_CODE Where ") + "REGION" + "='" + region +
                        "'" + " And " + "CD_TBL_ID" + "='" + "FORMTYPE" + "'");
      mEntry.mCodeLookup = lookup;
      mEntry.mCodeLookup->Open();
    }
    mEntry.mCodeLookup->MoveFirst();
    std::shared_ptr<Recordset> rows = mEntry.mCodeLookup->RecordsetPtr();
    // Only the wording in force: a form type's replaced wordings carry an end date.
    rows->SetFilter(std::string("CD_TBL_CD") + "='" + code + "' And " + "END_DT" + " = NULL");
    if (!rows->IsEOF()) description = rows->GetText("CD_TBL_DES");
    rows->SetFilter("");
  });
  // Released whatever happened, so that the next call reads the table afresh.
  mEntry.mCodeLookup.reset();
  return description;
}

std::string TARVO_FormsMaint::DelistingDescription(std::string& code) {
  std::string description;
  Trap("TARVO_FormsMaint.DelistingDescription", [&] {
    const std::string region = text::ToUpper(text::Trim(Services::Settings().Region()));
    // The entries in force today: begun, and not yet ended.
    const std::string sql =
        std::string(" SELECT ") + "    CD_TBL_DES " + " FROM " + "    RVO_CODE " + " WHERE " +
        "    REGION = '" + region + "' " + "    AND " + "    (EFCTV_DT <= date()) " + "    AND " +
        "    ( (END_DT >= date()) or (END_DT Is Null) )" + "    AND " +
        "    (CD_TBL_ID = 'DELISTCD') " + "    AND " + "    (CD_TBL_CD = '" + code + "') ";
    DataSet reasons;
    reasons.SetSource(sql);
    reasons.Open();
    reasons.MoveFirst();
    if (!reasons.IsEOF()) {
      const Value& value = reasons.GetRecordset().GetValue("CD_TBL_DES");
      if (value.IsNull()) {
        throw PlatformError(PlatformError::kTypeMismatch,
                            "Invalid use of Null: the delisting reason \"" + code +
                                "\" has no description in the code table");
      }
      description = value.ToText();
    }
    reasons.Close();
  });
  return description;
}

}  // namespace fm

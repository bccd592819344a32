#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataGrid.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "document/DocumentFixture.h"
#include "platform/DataSet.h"
#include "platform/DataSetTemplates.h"
#include "platform/MessageComponent.h"
#include "platform/Recordset.h"
#include "platform/Value.h"

namespace fm {

// Readable failure messages for the request's criteria and the document's criteria.
inline void PrintTo(const RequestCriterion& criterion, std::ostream* os) {
  *os << criterion.key << ' ' << criterion.op << " \"" << criterion.value << "\" ("
      << criterion.application << ")";
}

inline void PrintTo(const TARVO_FormsMaint::Criteria& criteria, std::ostream* os) {
  *os << "{troop \"" << criteria.troop << "\", district \"" << criteria.district
      << "\", form type \"" << criteria.formType << "\", registry \"" << criteria.registry
      << "\", form number \"" << criteria.formNumber << "\"}";
}

}  // namespace fm

namespace fm::testing {

// One row of a "TROOPFORM" reply.
struct RangeRow {
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  Value registry = {};  // null: no officer recorded
  std::string status = "A";
  std::int64_t remaining = 0;
  Value comment = {};
  Value quarter = {};
  Value year = {};
};

// One row of an "OFFICER" reply.
struct OfficerRow {
  std::int64_t registry = 0;
  Value last;
  Value first;
  Value middle;
};

inline std::shared_ptr<Recordset> TroopForms(const std::vector<RangeRow>& ranges) {
  auto rows = std::make_shared<Recordset>(*TemplateFields(kTroopFormTemplate));
  for (const auto& range : ranges) {
    rows->AddNew();
    rows->SetValue("TRP_ID", range.troop);
    rows->SetValue("TRP_DIST_ID", range.district);
    rows->SetValue("FORM_TYP_CD", range.formType);
    rows->SetValue("FRM_FORM_NBR", range.from);
    rows->SetValue("TO_FORM_NBR", range.to);
    rows->SetValue("ASGND_REG_NBR", range.registry);
    rows->SetValue("TRP_ACTN_CD", range.status);
    rows->SetValue("RMNG_FORM_CNT", range.remaining);
    rows->SetValue("TRP_FORM_CMMT_TXT", range.comment);
    rows->SetValue("FORM_QTR_DT", range.quarter);
    rows->SetValue("FORM_YR_DT", range.year);
    rows->Update();
  }
  return rows;
}

inline std::shared_ptr<Recordset> Officers(const std::vector<OfficerRow>& officers) {
  auto rows = std::make_shared<Recordset>(*TemplateFields(kOfficerTemplate));
  for (const auto& officer : officers) {
    rows->AddNew();
    rows->SetValue("INSP_ID", officer.registry);
    rows->SetValue("INSP_NME_LST", officer.last);
    rows->SetValue("INSP_NME_FRST", officer.first);
    rows->SetValue("INSP_NME_MDL_INT", officer.middle);
    rows->Update();
  }
  return rows;
}

inline RequestCriterion Criterion(std::string key, std::string value, std::string op = "=") {
  return {std::move(key), std::move(value), std::move(op), "QUILLMAR"};
}

// The document shown in its host, with helpers for the search cycle.
class SearchFixture : public DocumentFixture {
 protected:
  void SetUp() override {
    DocumentFixture::SetUp();
    ShowDocument();
    ui->messages.clear();
    errors->ClearReports();
  }

  TARVO_FormsMaint& Doc() { return *document; }

  // Chooses the form type with this code in the combo, as a user picking its description.
  void SelectFormType(std::string_view code) {
    auto& combo = Doc().qmCboFormTypes;
    const auto& entries = combo.Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].code == code) {
        combo.SetSelectedIndex(static_cast<int>(i));
        return;
      }
    }
    FAIL() << "no form type with the code " << code;
  }

  // Answers the last request with these data sets and delivers the reply.
  void ReplyWith(std::map<std::string, std::shared_ptr<Recordset>> dataSets) {
    messages->ReplyOk(Doc().RequestId(), std::move(dataSets));
    Deliver();
  }

  // A search for the registry number 1001 alone, not yet answered.
  void SearchRegistry() {
    Doc().txtBox(1).SetText("1001");
    Doc().ProcessCmdButtonSearchClick();
  }

  // A new range of form type C waiting to be saved.
  void AddPendingRow() {
    auto& rows = Doc().NewFormsDataSet()->GetRecordset();
    rows.AddNew();
    rows.SetValue("FORM_TYP_CD", "C");
    rows.Update();
  }

  // A search that the server answers: the grids then hold these rows.
  void SearchAndReply(const std::vector<RangeRow>& ranges,
                      const std::vector<OfficerRow>& officers = {}) {
    Doc().txtBox(0).SetText("C4");
    SelectFormType("C");
    Doc().ProcessCmdButtonSearchClick();
    ASSERT_EQ(messages->Sent().size(), 1u) << "the search was refused";
    ReplyWith({{"TROOPFORM", TroopForms(ranges)}, {"OFFICER", Officers(officers)}});
  }
};

}  // namespace fm::testing

#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controls/DataGrid.h"
#include "controls/OfficerSelect.h"
#include "platform/DataSetTemplates.h"
#include "platform/Recordset.h"
#include "platform/Value.h"
#include "search/SearchFixture.h"

namespace fm::testing {

// One "TROOPFORM" row with the values the Change Troop/District dialog shows.
struct RangeLine {
  std::string troop;
  std::string district;
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  Value registry = Value(0);
  Value comment = Value();
  Value quarter = Value();
  Value year = Value();
};

inline std::shared_ptr<Recordset> RangeLines(const std::vector<RangeLine>& lines) {
  auto rows = std::make_shared<Recordset>(*TemplateFields(kTroopFormTemplate));
  for (const auto& line : lines) {
    rows->AddNew();
    rows->SetValue("TRP_ID", line.troop);
    rows->SetValue("TRP_DIST_ID", line.district);
    rows->SetValue("FORM_TYP_CD", line.formType);
    rows->SetValue("FRM_FORM_NBR", line.from);
    rows->SetValue("TO_FORM_NBR", line.to);
    rows->SetValue("ASGND_REG_NBR", line.registry);
    rows->SetValue("TRP_ACTN_CD", "A");
    rows->SetValue("RMNG_FORM_CNT", line.to - line.from + 1);
    rows->SetValue("TRP_FORM_CMMT_TXT", line.comment);
    rows->SetValue("FORM_QTR_DT", line.quarter);
    rows->SetValue("FORM_YR_DT", line.year);
    rows->Update();
  }
  return rows;
}

// A fixed moment for comment stamps: 12 May 2026, 09:15:02.
inline std::chrono::system_clock::time_point StampMoment() {
  using namespace std::chrono;
  return sys_days{year{2026} / May / 12} + hours{9} + minutes{15} + seconds{2};
}

// Chooses the officer with this registry number in the picker, as a clerk clicking it.
inline void Pick(OfficerSelect& picker, std::string_view registry) {
  for (int i = 0; i < picker.OfficerCount(); ++i) {
    if (picker.OfficerAt(i).registryNumber == registry) {
      ASSERT_TRUE(picker.Choose(i)) << "the picker could not be used";
      return;
    }
  }
  FAIL() << "the picker does not offer the registry number " << registry;
}

// The last names of a record set's rows, in its order.
inline std::vector<std::string> LastNames(Recordset& rows) {
  std::vector<std::string> names;
  for (long i = 0; i < rows.RecordCount(); ++i) {
    names.push_back(rows.ValueAt(i, rows.FieldIndex("INSP_NME_LST")).ToText());
  }
  return names;
}

// The document shown, with a search for C4 whose reply the test chooses.
class DutyStationFixture : public SearchFixture {
 protected:
  void SetUp() override {
    SearchFixture::SetUp();
    Doc().SetNow([] { return StampMoment(); });
  }

  void ShowRanges(const std::vector<RangeLine>& ranges,
                  const std::vector<OfficerRow>& officers = {}) {
    Doc().txtBox(0).SetText("C4");
    SelectFormType("C");
    Doc().ProcessCmdButtonSearchClick();
    ASSERT_EQ(messages->Sent().size(), 1u) << "the search was refused";
    ReplyWith({{"TROOPFORM", RangeLines(ranges)}, {"OFFICER", Officers(officers)}});
    ui->messages.clear();
    frame->Clear();
  }
};

}  // namespace fm::testing

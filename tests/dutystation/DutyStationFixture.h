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

  // A search whose reply the dialogs then work on, with nothing shown yet.
  void ShowRanges(const std::vector<RangeRow>& ranges,
                  const std::vector<OfficerRow>& officers = {}) {
    SearchAndReply(ranges, officers);
    ui->messages.clear();
    frame->Clear();
  }
};

}  // namespace fm::testing

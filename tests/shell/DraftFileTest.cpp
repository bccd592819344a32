// New ranges not yet saved survive a desktop that dies: any rows the draft file keeps come
// back as they were (the desktop's offer of a draft is tested in tests/qt/shell).

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "platform/DataSetTemplates.h"
#include "platform/Recordset.h"
#include "shell/DraftFile.h"

namespace fm::shell {
namespace {

using testing::TempFolder;

const auto kWhen = std::chrono::system_clock::now();

std::vector<std::vector<Value>> Values(const Recordset& rows) {
  std::vector<std::vector<Value>> values;
  for (long i = 0; i < rows.RecordCount(); ++i) {
    auto& row = values.emplace_back();
    for (int f = 0; f < rows.FieldCount(); ++f) row.push_back(rows.ValueAt(i, f));
  }
  return values;
}

TEST(DraftFileTest, AnyRowsComeBackAsTheyWereKept) {
  const std::uint32_t seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const auto pick = [&](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  const Value comments[] = {Value::Null(), "Received  (Ann Lee 12/06/2026 10:57:14 AM)",
                            "a \"quoted\", comma", "two\nlines", "M\u00FCller \u00B7 ~%"};
  const TempFolder folder;
  const DraftFile draft(folder.Path() / "draft.json");
  for (int round = 0; round < 20; ++round) {
    Recordset rows(*TemplateFields(kTroopFormTemplate));
    for (int n = pick(1, 6); n > 0; --n) {
      rows.AddNew();
      rows.SetValue("TRP_ID", std::string(1, static_cast<char>('A' + pick(0, 5))));
      rows.SetValue("FRM_FORM_NBR", Value(std::int64_t{pick(1, 999999)} * pick(1, 9999)));
      if (pick(0, 1)) rows.SetValue("FORM_QTR_DT", std::to_string(pick(1, 4)));
      rows.SetValue("TRP_FORM_CMMT_TXT", comments[pick(0, 4)]);
      rows.Update();
    }
    draft.Keep(rows, kWhen);
    const auto back = draft.Read();
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(Values(*back), Values(rows)) << "round " << round;
  }
  draft.Keep(Recordset(*TemplateFields(kTroopFormTemplate)), kWhen);  // no rows: no draft
  EXPECT_EQ(draft.Read(), nullptr);
}

}  // namespace
}  // namespace fm::shell

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "protocol/Custody.h"
#include "shell/Accountability.h"
#include "shell/AccountabilityPrint.h"
#include "shell/HandReceipt.h"

namespace fm::shell {
namespace {

TEST(AccountabilityPrintTest, TheReportInWordsWithADefectMarkedAndTheCertification) {
  protocol::AccountabilityReport report;
  report.parameters.holder = "Troop/District A1 Capital City";
  for (const char* type : {"C", "M"}) {
    protocol::AccountabilityLine line;
    line.formType = type;
    line.description = type[0] == 'C' ? "ENF001 Citation" : "";
    line.Tally(protocol::AccountLine::Received).Add({1, 1500});
    line.Tally(protocol::AccountLine::Delisted).Add({1, 1});
    line.delistedByReason["V"].Add({1, 1});
    line.Tally(protocol::AccountLine::Ending).Add({2, type[0] == 'C' ? 1500 : 1499});
    report.lines.push_back(line);
  }
  report.reasonDescriptions["V"] = "Void";
  const auto blocks = AccountabilityBlocks(report, {"11/1/2026 to 11/30/2026", "", "All", ""});
  const auto& table = blocks.at(3).table;
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0].cells,
            (std::vector<std::string>{"ENF001 Citation", "0", "1,500", "0", "0", "0", "1", "0",
                                      "1,499", "0", "yes"}));
  EXPECT_FALSE(table.rows[0].defect);
  EXPECT_EQ(table.rows[1].cells.front(), "M");  // no description: the code
  EXPECT_EQ(table.rows[1].cells.back(), "NO: off by 1");
  EXPECT_TRUE(table.rows[1].defect);
  EXPECT_EQ(blocks.at(4).text, "ENF001 Citation: serial numbers");
  EXPECT_TRUE(blocks.at(4).keepWithNext);
  const auto& reasons = blocks.at(5).table.rows;
  const auto voided = std::find_if(reasons.begin(), reasons.end(),
                                   [](const auto& row) { return row.cells[1] == "Void"; });
  ASSERT_NE(voided, reasons.end()) << "the delisting reason by its description";
  EXPECT_EQ(voided->cells[3], "1");
  EXPECT_EQ(blocks.back().text.rfind(kCertificationText, 0), 0u);
  EXPECT_NE(blocks.back().text.find("Accountable officer: ____"), std::string::npos);
  EXPECT_EQ(AccountabilityBlocks(report, {"", "", "", "Margaret Hartley"})
                .back()
                .text.find("Accountable officer: Margaret Hartley    Signature: "),
            std::string(kCertificationText).size() + 2);
  using namespace std::chrono;
  const auto month = LastCalendarMonth(2026y / March / 15);
  EXPECT_EQ(month.first, 2026y / February / 1);
  EXPECT_EQ(month.second, 2026y / February / 28);
}

// The printed hand receipt: a reprint is a copy, a book passed on counts the forms handed over,
// and both signatures have their lines.
TEST(AccountabilityPrintTest, TheHandReceiptPrintsItsLinesTotalAndSignatures) {
  protocol::HandReceipt r;
  r.number = 17;
  r.troop = "A";
  r.district = "1";
  r.registry = 1002;
  r.officerName = "Smith, John";
  r.clerkName = "Margaret Hartley";
  r.issuedAt = "2026-12-07T15:04:00Z";
  r.lines = {{"C", 1100001, 1100100, 100, "ENF001 Citation"}, {"K", 500, 599, 61, ""}};
  const auto time = [](const std::string& utc) { return "at " + utc; };
  auto blocks = HandReceiptBlocks(r, time);
  EXPECT_EQ(blocks.front().text, "Hand Receipt 17");
  const auto& rows = blocks.at(2).table.rows;
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].cells,
            (std::vector<std::string>{"ENF001 Citation", "1100001", "1100100", "100", "100"}));
  EXPECT_EQ(rows[1].cells.front(), "K");
  EXPECT_EQ(rows[2].cells, (std::vector<std::string>{"Total", "", "", "200", "161"}));
  EXPECT_NE(blocks.at(1).text.find("Issued at 2026-12-07T15:04:00Z by Margaret Hartley"),
            std::string::npos);
  EXPECT_NE(blocks.at(4).text.find("Officer: Smith, John (1002)\n\nSignature: ___"),
            std::string::npos);
  EXPECT_NE(blocks.back().text.find("Issued by: Margaret Hartley\n\nSignature: ___"),
            std::string::npos);
  r.printCount = 1;
  EXPECT_EQ(HandReceiptBlocks(r, time).front().text, "Hand Receipt 17 - COPY");
  EXPECT_EQ(HandReceiptFooter(r), "Hand Receipt 17, Troop/District A1, Smith, John (1002)");
}

}  // namespace
}  // namespace fm::shell

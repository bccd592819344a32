// The chain of custody in words, from entries built by hand over the demo reference data:
// officers 1002 John Smith,jr and 1003 Robert Brown,SR, 1005 Doe (no first name), station A1
// Capital City of "Troop A - Capital", statuses A, U (Unassign), V (Void) and L (Lost).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "server/custody/CustodyWords.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"

namespace fm::server {
namespace {

const ReferenceData& Reference() {
  static const ReferenceData reference = ReferenceData::FromDemoDatabase("NORTH");
  return reference;
}

FormRange Held(std::string station, std::int64_t registry, std::string status,
               std::int64_t to = 199) {
  return {"C", 100, to, station.substr(0, 1), station.substr(1), registry, std::move(status), 100,
          {},  {},  {}};
}

CustodyEntry Entry(const char* event, std::optional<FormRange> before, FormRange after) {
  CustodyEntry e;
  e.event = event;
  e.before = std::move(before);
  e.after = std::move(after);
  return e;
}

TEST(DescribeCustodyChange, SaysWhatChangedInTheOrderAClerkReadsIt) {
  const FormRange a1 = Held("A1", 1002, "A");
  FormRange commented = a1;
  commented.comment = "checked";
  struct Case {
    CustodyEntry entry;
    const char* words;
  };
  const Case cases[] = {
      {Entry(custody::kReceive, std::nullopt, a1), "received"},
      {Entry(custody::kLoad, std::nullopt, a1), "received with the initial inventory"},
      {Entry(custody::kWithdraw, a1, a1), "withdrawn"},
      {Entry(custody::kChange, std::nullopt, a1), "recorded"},
      {Entry(custody::kChange, a1, a1), "recorded again"},
      {Entry(custody::kChange, a1, commented), "comment changed"},
      {Entry(custody::kChange, a1, Held("B2", 1002, "A")), "moved from Troop/District A1 to B2"},
      {Entry(custody::kChange, a1, Held("A1", 0, "U")), "unassigned"},
      {Entry(custody::kChange, a1, Held("A1", 0, "A")), "unassigned"},
      {Entry(custody::kChange, Held("A1", 0, "U"), a1), "assigned to John Smith,jr (1002)"},
      {Entry(custody::kChange, a1, Held("A1", 1003, "A")),
       "reassigned from John Smith,jr (1002) to Robert Brown,SR (1003)"},
      {Entry(custody::kChange, Held("A1", 0, "A"), Held("A1", 9999, "A")),
       "assigned to the officer with Registry # 9999"},
      {Entry(custody::kChange, a1, Held("A1", 1002, "L")), "delisted: Lost"},
      {Entry(custody::kChange, Held("A1", 1002, "L"), a1), "reinstated"},
      {Entry(custody::kChange, Held("A1", 0, "A", 299), Held("B2", 1005, "V")),
       "moved from Troop/District A1 to B2; voided; assigned to Doe (1005); split from 100-299"},
  };
  for (const Case& c : cases) EXPECT_EQ(DescribeCustodyChange(c.entry, Reference()), c.words);
}

TEST(BuildFormHistory, TellsEachEntryAndWhereTheFormIsNow) {
  CustodyEntry received = Entry(custody::kReceive, std::nullopt, Held("A", 0, "U"));
  received.userId = 7;
  received.requestId = "r1";
  CustodyEntry assigned = Entry(custody::kChange, received.after, Held("A1", 1002, "A"));
  assigned.userName = "Ann Lee";
  assigned.after.comment = "to John";
  const auto history =
      BuildFormHistory("C", 150, {received, assigned}, assigned.after, Reference());
  ASSERT_EQ(history.entries.size(), 2u);
  EXPECT_EQ(history.entries[0].userName, "User 7");
  EXPECT_EQ(history.entries[0].requestId, "r1");
  EXPECT_FALSE(history.entries[0].before);
  EXPECT_EQ(history.entries[1].what,
            "moved from Troop/District A to A1; assigned to John Smith,jr "
            "(1002)");
  EXPECT_EQ(history.entries[1].before->statusDescription, "Unassign");
  EXPECT_EQ(history.entries[1].after.holderName, "John Smith,jr");
  EXPECT_EQ(history.entries[1].comment, "to John");
  EXPECT_EQ(history.summary,
            "Form 150 of ENF001 Citation is held by Troop/District A1 Capital City, assigned to "
            "John Smith,jr (1002), status in use, in the range 100-199.");
  EXPECT_EQ(BuildFormHistory("C", 150, {received}, received.after, Reference()).summary,
            "Form 150 of ENF001 Citation is held by Troop A - Capital, no officer, status "
            "Unassign, in the range 100-199.");

  CustodyEntry withdrawn = Entry(custody::kWithdraw, assigned.after, assigned.after);
  withdrawn.at = "2024-05-01T13:05:09Z";
  withdrawn.userId = 3;
  withdrawn.reason = "misprint";
  EXPECT_EQ(BuildFormHistory("C", 150, {received, withdrawn}, std::nullopt, Reference()).summary,
            "Form 150 of ENF001 Citation was withdrawn at " +
                ClerkTime(*ParseUtcTimestamp(withdrawn.at)) + " by User 3: misprint");
  EXPECT_EQ(BuildFormHistory("Q", 5, {}, std::nullopt, Reference()).summary,
            "Form 5 of Q is in no range and has no recorded history.");
}

TEST(HolderScopeText, NamesTheStationTheTroopOrTheOfficer) {
  const std::pair<HolderScope, const char*> cases[] = {
      {{"A", "1", false, std::nullopt}, "Troop/District A1 Capital City"},
      {{"A", "", true, std::nullopt}, "Troop A - Capital, every district"},
      {{"", "", false, 1002}, "John Smith,jr (1002)"},
      {{"A", "1", false, 1002}, "John Smith,jr (1002) at Troop/District A1 Capital City"},
      {{"Z", "9", false, std::nullopt}, "Troop/District Z9"},
      {{"Z", "", true, 4242}, "the officer with Registry # 4242 at Troop Z, every district"},
  };
  for (const auto& [scope, words] : cases) EXPECT_EQ(HolderScopeText(scope, Reference()), words);
}

}  // namespace
}  // namespace fm::server

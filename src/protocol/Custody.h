#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Messages.h"

// The custody answers of the forms server: the history of one form (message type 35) and
// the accountability report of a holder over a period (message type 36), as plain data, as
// the data sets a reply carries them in, and as the JSON and CSV handed to people. The
// server computes them (server/custody/Accountability.h, server/custody/CustodyWords.h); the
// desktop reads them back from the reply's data sets.
namespace fm::protocol {

// Data sets of a form-history reply.
inline constexpr const char* kHistoryDataSet = "HISTORY";  // one row per entry, oldest first
inline constexpr const char* kHolderDataSet = "HOLDER";    // one row: who holds the form now
// Data sets of an accountability reply.
inline constexpr const char* kAccountParameterDataSet = "ACCTPARM";  // one row: the request
inline constexpr const char* kAccountLineDataSet = "ACCTLINE";       // one row per form type
// The serial ranges: one row per range of each line (RSN_CD null), and the delisted ranges
// once more by reason (RSN_CD the status code).
inline constexpr const char* kAccountSpanDataSet = "ACCTSPAN";
// The used numbers of each line's ending balance, by disposition (DISPOSITION "ISSUED"...):
// one row per range. A reply without it (a server before uses were recorded) has none.
inline constexpr const char* kAccountUsedDataSet = "ACCTUSED";

// Inclusive serial numbers.
struct SerialRange {
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t Size() const { return to - from + 1; }
  friend bool operator==(const SerialRange&, const SerialRange&) = default;
};

// A number of forms and the ranges they are. A form that moved twice in a period is
// counted, and listed, twice; `count` is always the sum of the ranges' sizes.
struct SerialTally {
  std::int64_t count = 0;
  std::vector<SerialRange> ranges;

  void Add(SerialRange range);
  // Sorts the ranges and joins neighbours that touch without sharing a number.
  void Normalize();
  friend bool operator==(const SerialTally&, const SerialTally&) = default;
};

// The lines of an accountability report, in the order the identity reads them:
//   beginning + received + transferred in + reinstated
//     - transferred out - delisted - withdrawn = ending.
enum class AccountLine {
  Beginning,
  Received,
  TransferredIn,
  Reinstated,
  TransferredOut,
  Delisted,
  Withdrawn,
  Ending
};
inline constexpr std::array<AccountLine, 8> kAccountLines = {
    AccountLine::Beginning,  AccountLine::Received,       AccountLine::TransferredIn,
    AccountLine::Reinstated, AccountLine::TransferredOut, AccountLine::Delisted,
    AccountLine::Withdrawn,  AccountLine::Ending};
// "beginning", "received", "transferred_in", "reinstated", "transferred_out", "delisted",
// "withdrawn", "ending": the JSON members and the line codes of the data sets.
const char* AccountLineKey(AccountLine line);
// "Beginning balance", "Received", "Transferred in"...: what people read.
const char* AccountLineCaption(AccountLine line);
// +1 for the lines that add to the balance, -1 for those that take from it, 0 for the
// balances themselves.
int AccountLineSign(AccountLine line);

// One form type's account.
struct AccountabilityLine {
  std::string formType;
  std::string description;
  std::array<SerialTally, kAccountLines.size()> tallies{};
  std::map<std::string, SerialTally> delistedByReason;  // by status code
  std::int64_t issued = 0;                              // forms of the ending balance already used
  // The numbers of the ending balance with a standing use dated by the report's last day, by
  // disposition ("ISSUED", "SPOILED", "LOST", "STOLEN"; docs/usage.md), as exact ranges.
  std::map<std::string, SerialTally> usedByDisposition;

  SerialTally& Tally(AccountLine line) { return tallies[static_cast<std::size_t>(line)]; }
  const SerialTally& Tally(AccountLine line) const {
    return tallies[static_cast<std::size_t>(line)];
  }
  // beginning + additions - removals - ending: 0 for a line that accounts for every form.
  std::int64_t Imbalance() const;
  friend bool operator==(const AccountabilityLine&, const AccountabilityLine&) = default;
};

// What the report was asked for, and the instants it was computed between.
struct AccountabilityParameters {
  std::string troop;  // empty for an officer's forms wherever they are held
  std::string district;
  bool wholeTroop = false;
  std::optional<std::int64_t> registry;
  std::string formType;    // empty: every form type
  std::string fromDate;    // first day, "YYYY-MM-DD"
  std::string toDate;      // last day, inclusive
  std::string start;       // UTC instant the period starts (local midnight of fromDate)
  std::string end;         // UTC instant it ends (local midnight after toDate)
  std::string holder;      // the holder in words: "A1 North Patrol", "John Smith (1001)"
  std::string computedAt;  // UTC
  // The record chain's last link when the report was read, in the same snapshot: a
  // checkpoint at or after it proves the history the report was computed from unaltered.
  // 0 and empty from a store without a chain.
  std::int64_t chainLink = 0;
  std::string chainHash;
  friend bool operator==(const AccountabilityParameters&,
                         const AccountabilityParameters&) = default;
};

struct AccountabilityReport {
  AccountabilityParameters parameters;
  std::vector<AccountabilityLine> lines;                  // by form type
  std::map<std::string, std::string> reasonDescriptions;  // status code -> description
  friend bool operator==(const AccountabilityReport&, const AccountabilityReport&) = default;
};

// The reply's data sets and back. FromDataSets throws ProtocolError naming the data set
// and column that is missing or of the wrong type.
std::map<std::string, DataSet> AccountabilityToDataSets(const AccountabilityReport& report);
AccountabilityReport AccountabilityFromDataSets(const std::map<std::string, DataSet>& dataSets);
// {"station": ..., "officer": ..., "form_type": ..., "from": ..., "to": ..., "lines": [...]}
// (docs/accountability.md).
std::string AccountabilityToJson(const AccountabilityReport& report);
// A table for spreadsheets: a heading, then for each form type one record per line (and per
// delisting reason), each with the holder and period, the count, the ranges and whether the
// form type balances.
std::vector<std::vector<std::string>> AccountabilityCsvRecords(const AccountabilityReport& report);
// "1100001-1100050, 1100101"
std::string SerialRangesText(const std::vector<SerialRange>& ranges);

// A holder and status of a form at one step of its history.
struct CustodyState {
  std::string troop;
  std::string district;
  std::int64_t registry = 0;
  std::string holderName;  // the officer's name, empty for none
  std::string status;
  std::string statusDescription;
  friend bool operator==(const CustodyState&, const CustodyState&) = default;
};

struct HistoryEntry {
  std::string at;  // UTC
  std::int64_t userId = 0;
  std::string userName;
  std::string event;  // RECEIVE, PIECE, CHANGE, LOAD, WITHDRAW
  std::string what;   // in words: "received", "assigned to John Smith (1001)", ...
  SerialRange range;  // the range the entry wrote (a withdrawal: the numbers withdrawn)
  std::optional<CustodyState> before;
  CustodyState after;
  std::string comment;
  std::string reason;  // a withdrawal's
  std::string requestId;
  std::optional<std::int64_t> receipt;  // the hand receipt the range was given on
  // Why its save went beyond an allotment cap or a reissue rule; empty when it did not.
  std::string overrideReason{};
  friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

struct FormHistory {
  std::string formType;
  std::int64_t number = 0;
  std::vector<HistoryEntry> entries;  // oldest first
  // The range holding the form now and its state; none when no range holds it.
  std::optional<SerialRange> currentRange;
  std::optional<CustodyState> current;
  std::string summary;  // who holds it now, in words
  friend bool operator==(const FormHistory&, const FormHistory&) = default;
};

std::map<std::string, DataSet> FormHistoryToDataSets(const FormHistory& history);
FormHistory FormHistoryFromDataSets(const std::map<std::string, DataSet>& dataSets);
// The entries as a table with a heading; `time` turns a UTC stamp into the text shown.
std::vector<std::vector<std::string>> FormHistoryCsvRecords(
    const FormHistory& history, const std::function<std::string(const std::string&)>& time);
// "A1", "A1 John Smith (1001)": the holder as the history shows it.
std::string HolderText(const CustodyState& state);
// "Void": the status as the history shows it, by its description (the code when it has
// none).
std::string StatusText(const CustodyState& state);

}  // namespace fm::protocol

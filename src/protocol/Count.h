#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Messages.h"

// Physical counts as the messages carry them (docs/counts.md): the counts of a station, one
// count with its book and result, and what a count found of one form in its history. Plain
// data; the server keeps the counts and computes the result, the desktop shows them.
namespace fm::protocol {

// Consecutive numbers of one form type, with the holder the book names (registry 0: the
// station's shelf) and the status it was held in; a counted span has neither.
struct CountLine {
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t registry = 0;
  std::string status;
  friend bool operator==(const CountLine&, const CountLine&) = default;
};

// Counted but not in the book: why, in the server's key ("other_station", "other_officer",
// "delisted", "used", "not_in_book", "never_received"), and who holds it in words.
struct UnexpectedLine {
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string reason;
  std::string detail;
  friend bool operator==(const UnexpectedLine&, const UnexpectedLine&) = default;
};

// How an administrator settled a missing span: outcome "lost" or "found_later".
struct SettlementLine {
  std::string formType;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::string outcome;
  std::string note;
  std::string by;
  std::string at;  // UTC
  friend bool operator==(const SettlementLine&, const SettlementLine&) = default;
};

// A count in a list, and the head of a count shown: empty certifiedAt while it is open.
struct CountHead {
  std::int64_t number = 0;
  std::string troop;
  std::string district;  // empty: the troop's own stock
  std::vector<std::string> formTypes;
  std::string openedBy;
  std::string openedAt;  // UTC: the instant the book is of
  std::string certifiedBy;
  std::string certifiedAt;  // UTC; empty: not certified
  std::string statement;    // the certification's; not carried in a list
  bool Certified() const { return !certifiedAt.empty(); }
  friend bool operator==(const CountHead&, const CountHead&) = default;
};

// One count with its book and result: found and missing cover the book, found and
// unexpected the counted numbers.
struct CountSheet {
  CountHead head;
  std::vector<CountLine> book;
  std::vector<CountLine> counted;
  std::vector<CountLine> found;
  std::vector<CountLine> missing;
  std::vector<UnexpectedLine> unexpected;
  std::vector<SettlementLine> settlements;
  friend bool operator==(const CountSheet&, const CountSheet&) = default;
};

// A certified count in the history of one form: what it found of the number ("found",
// "missing" or the unexpected reason's key) and how the number was settled ("lost",
// "found_later", or empty).
struct FormCount {
  std::int64_t number = 0;
  std::string troop;
  std::string district;
  std::string certifiedAt;
  std::string certifiedBy;
  std::string outcome;
  std::string settled;
  friend bool operator==(const FormCount&, const FormCount&) = default;
};

// The messages (protocol/Messages.h has their numbers): each keyed by key:CNT_NBR but the
// list (key:TRP_ID and key:TRP_DIST_ID, both optional) and the opening (key:TRP_ID,
// key:TRP_DIST_ID and one key:REF_TYP_CD per form type). An entry carries spans in
// kCountEntryDataSet or an imported text in kCountTextDataSet; a certification its statement
// there, a settlement its note, with key:REF_TYP_CD, key:FRM_FORM_NBR, key:TO_FORM_NBR and
// key:OUTCOME_CD. Every message but the list is answered with the count as it stands.
inline constexpr const char* kCountNumberKey = "CNT_NBR";
inline constexpr const char* kCountOutcomeKey = "OUTCOME_CD";
// The request's spans: FORM_TYP_CD, FRM_FORM_NBR, TO_FORM_NBR, texts as typed.
inline constexpr const char* kCountEntryDataSet = "CNTENTRY";
// One row, TEXT: an imported text, a statement or a note. A data set rather than a criterion,
// since it is longer than a criterion may be.
inline constexpr const char* kCountTextDataSet = "CNTTEXT";
// The answers: the list (one row per count), a count's head (one row), its spans by part
// ("book", "counted", "found", "missing", "unexpected") and its settlements.
inline constexpr const char* kCountListDataSet = "CNTLIST";
inline constexpr const char* kCountHeadDataSet = "CNTHEAD";
inline constexpr const char* kCountSpanDataSet = "CNTSPAN";
inline constexpr const char* kCountSettlementDataSet = "CNTSETL";
// Beside the form history (message 35): CNT_NBR, TRP_ID, TRP_DIST_ID, CERT_TS, CERT_BY_NME,
// OUTCOME_CD, SETTLED_CD. A reply without it reads as no counts.
inline constexpr const char* kFormCountDataSet = "FORMCNT";

// The request's spans and back; a cell may be a text or a whole number.
DataSet CountEntriesToDataSet(const std::vector<std::vector<std::string>>& spans);
std::vector<std::vector<std::string>> CountEntriesFromDataSet(const DataSet& set);
DataSet CountTextToDataSet(const std::string& text);
// The text of kCountTextDataSet; empty when the request carries none.
std::string CountTextFromDataSets(const std::map<std::string, DataSet>& dataSets);

// The answers' data sets and back; FromDataSets throws ProtocolError naming what is missing
// or of the wrong type.
std::map<std::string, DataSet> CountListToDataSets(const std::vector<CountHead>& counts);
std::vector<CountHead> CountListFromDataSets(const std::map<std::string, DataSet>& dataSets);
std::map<std::string, DataSet> CountSheetToDataSets(const CountSheet& sheet);
CountSheet CountSheetFromDataSets(const std::map<std::string, DataSet>& dataSets);
DataSet FormCountsToDataSet(const std::vector<FormCount>& counts);
std::vector<FormCount> FormCountsFromDataSets(const std::map<std::string, DataSet>& dataSets);

// What people read of a count's finding of a number: "found", "missing", "unexpected: held
// by another station"...; of a reason key alone: "held by another station".
std::string UnexpectedReasonText(const std::string& reason);
std::string CountOutcomeText(const std::string& outcome);
// "lost", "found later", or empty.
std::string SettlementText(const std::string& outcome);

}  // namespace fm::protocol

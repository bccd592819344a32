#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Custody.h"

// What became of each form number: the use records the server keeps (message type 37 records
// them, from an import or a person), and the reconciliation of a holder's forms against them
// (message type 38), as plain data. docs/usage.md describes the rules; the server keeps them,
// the desktop and the command line show them.
namespace fm::protocol {

// kRecordUsageMessage (37, protocol/Messages.h) records uses: an import's lines, or one
// person's; kReconcileMessage (38) reconciles a holder's forms against them.

// What became of a form number.
enum class Disposition {
  Issued,   // written on a citation, permit, decal...
  Spoiled,  // voided by the officer after writing (damaged, misprinted): a reason is required
  Lost,
  Stolen,  // the police report's reference is required
};
inline constexpr Disposition kDispositions[] = {Disposition::Issued, Disposition::Spoiled,
                                                Disposition::Lost, Disposition::Stolen};
// "ISSUED", "SPOILED", "LOST", "STOLEN": the stored, wire and file spelling.
const char* DispositionKey(Disposition disposition);
// "Issued", "Spoiled"...: what people read.
const char* DispositionCaption(Disposition disposition);
// The disposition spelled by `text` in any case, or none.
std::optional<Disposition> DispositionFromKey(std::string_view text);

// One use as it was reported (a line of an import file, a use of a JSON body, a row a person
// records), before any check: every field a text as written, numbers included, so that what
// is wrong with it can be said in the words of what was sent. docs/usage.md has the rules.
struct ReportedUse {
  std::string formType;  // the code ("C") or the description ("ENF001 Citation"), any case
  std::string number;
  std::string disposition;  // ISSUED, SPOILED, LOST or STOLEN, any case
  std::string usedOn;       // YYYY-MM-DD
  std::string officer;      // the registry number
  std::string reference;
  std::string note;
  // A person's record only: the last number of a span the use stands for, each number of
  // it used alike (a spoiled pad); empty for the one number.
  std::string to;
  friend bool operator==(const ReportedUse&, const ReportedUse&) = default;
};

// The header row of an import file: exactly these columns, in this order.
inline constexpr const char* kUseFileColumns[] = {
    "form_type", "number", "disposition", "used_on", "officer", "reference", "note"};

// Where a use record came from.
struct UseSource {
  std::string fileName;  // an import's file name, as given; empty for a person's record
  std::string fileHash;  // SHA-256 of the file's bytes in lowercase hex; empty for a person
  friend bool operator==(const UseSource&, const UseSource&) = default;
};

// One use of one form number. At most one use of a number is standing; a correction is a new
// record that supersedes the standing one (both kept).
struct FormUse {
  std::int64_t id = 0;  // the server's; 0 before it is stored
  std::string formType;
  std::int64_t number = 0;
  Disposition disposition = Disposition::Issued;
  std::string usedOn;         // the day of use, "YYYY-MM-DD"
  std::int64_t registry = 0;  // the officer who used it; 0 when none is known (lost, stolen)
  std::string reference;      // citation or case number, docket, police report
  std::string note;           // the reason of a spoiled form, or any remark
  UseSource source;
  std::string sourceText;         // the import's --source, or who handed the paper back
  std::int64_t recordedById = 0;  // the authenticated principal who recorded it
  std::string recordedBy;
  std::string recordedAt;                  // UTC
  std::optional<std::int64_t> supersedes;  // the record this one corrects
  std::string correctionReason;            // required with supersedes
  bool standing = true;
  friend bool operator==(const FormUse&, const FormUse&) = default;
};

// One line of an import that was not stored, and why.
struct UseLineProblem {
  std::int64_t line = 0;  // 1-based, the header being line 1
  std::string message;
  friend bool operator==(const UseLineProblem&, const UseLineProblem&) = default;
};

// What recording a batch of uses did. With any bad line nothing is stored (`recorded` and
// `alreadyRecorded` are then 0). A line equal to the standing use of its number is already
// recorded; one that contradicts it is a conflict, kept apart and never overwriting it.
struct UsageOutcome {
  std::int64_t lines = 0;  // data lines read
  std::int64_t recorded = 0;
  std::int64_t alreadyRecorded = 0;
  std::vector<UseLineProblem> badLines;   // the first of them, by line
  std::vector<UseLineProblem> conflicts;  // the first of them, by line
  std::int64_t badLineCount = 0;          // all of them: more than listed when the list is cut
  std::int64_t conflictCount = 0;
  bool sameFileAgain = false;  // a file of this hash was imported before: nothing changed
  // With sameFileAgain: the earlier import of the file, its name, when and by whom.
  std::string previousFileName;
  std::string previousRecordedAt;
  std::string previousRecordedBy;
  bool preview = false;  // counted as if recorded, but nothing was stored
  friend bool operator==(const UsageOutcome&, const UsageOutcome&) = default;
};

// Data sets of the usage messages (type 37). A request carries either the import file whole,
// or the uses a person records:
inline constexpr const char* kUseFileDataSet = "USEFILE";  // FILE_NAME, FILE_TEXT: one row
// FORM_TYP_CD, FRM_FORM_NBR, TO_FORM_NBR, DISPOSITION, USED_ON, ASGND_REG_NBR, REFERENCE, NOTE:
// one row per use (a span of numbers from FRM_FORM_NBR to TO_FORM_NBR, or one number).
inline constexpr const char* kUseRowDataSet = "USEROW";
// The reply: what recording did (one row), its bad lines and conflicts, and use records
// (a correction's, and those of a form in its history, message type 35).
inline constexpr const char* kUsageDataSet = "USAGE";
inline constexpr const char* kUseProblemDataSet = "USEPROB";
inline constexpr const char* kFormUseDataSet = "FORMUSE";

// The rows of kUseRowDataSet and back; a cell may be a text or a whole number, and a missing
// column is read as empty. FromDataSet throws ProtocolError naming a cell of another type.
DataSet UseRowsToDataSet(const std::vector<ReportedUse>& uses);
std::vector<ReportedUse> UseRowsFromDataSet(const DataSet& rows);

std::map<std::string, DataSet> UsageOutcomeToDataSets(const UsageOutcome& outcome);
UsageOutcome UsageOutcomeFromDataSets(const std::map<std::string, DataSet>& dataSets);
DataSet UsesToDataSet(const std::vector<FormUse>& uses);
// The uses of kFormUseDataSet; none when the reply carries no such data set.
std::vector<FormUse> UsesFromDataSets(const std::map<std::string, DataSet>& dataSets);

// {"lines": ..., "recorded": ..., "already_recorded": ..., "bad_lines": [{"line": ...,
// "message": ...}], "bad_line_count": ..., "conflicts": [...], ...} (docs/usage.md).
std::string UsageOutcomeToJson(const UsageOutcome& outcome);
// [{"id": ..., "form_type": ..., "number": ..., "disposition": ..., ...}, ...]
std::string UsesToJson(const std::vector<FormUse>& uses);

// The JSON body of POST /v1/usage: {"request_id": ..., "source": ..., "preview": false,
// "uses": [{"form_type": "C", "number": 1100001, "disposition": "ISSUED", "used_on":
// "2026-11-02", "officer": 1001, "reference": "...", "note": "..."}]}, and for an admin's
// correction "supersedes" (the use id) and "reason" with exactly one use.
struct UsageSubmission {
  std::string requestId;
  std::string source;
  bool preview = false;
  std::optional<std::int64_t> supersedes;
  std::string reason;
  std::vector<ReportedUse> uses;
  friend bool operator==(const UsageSubmission&, const UsageSubmission&) = default;
};
// Throws ProtocolError naming the member that is missing, unknown or of the wrong type.
UsageSubmission UsageSubmissionFromJson(std::string_view json);

// Why a use is an exception of a reconciliation.
enum class UseException {
  NotHolder,       // used by someone who did not hold the number on that day
  AfterDelisting,  // used after the number was delisted or withdrawn
  NeverReceived,   // a number no range ever held
  UsedTwice,       // reported used twice (a conflict kept beside the standing use)
};
// "not_holder", "after_delisting", "never_received", "used_twice".
const char* UseExceptionKey(UseException kind);
// "Used by someone who did not hold it", ...: what people read.
const char* UseExceptionCaption(UseException kind);

struct ReconciliationException {
  UseException kind = UseException::NotHolder;
  FormUse use;
  // The facts that prove it, in words: "held on 2026-11-02 by A1 Jane Doe (1002)", "voided
  // on 2026-10-01 by ...", the other report of a number used twice.
  std::string facts;
  std::optional<FormUse> other;  // the standing use a second report contradicts
  friend bool operator==(const ReconciliationException&, const ReconciliationException&) = default;
};

// One holder's forms of one form type: every held number is in exactly one of used (by
// disposition), in stock and unaccounted.
struct ReconciliationLine {
  std::string troop;
  std::string district;
  std::int64_t registry = 0;  // 0: the station's own stock
  std::string holder;         // in words
  std::string formType;
  std::string description;
  SerialTally held;
  SerialTally used[std::size(kDispositions)];
  SerialTally inStock;
  // Numbers below the highest number used more than the gap ago in the same range, with no
  // use at all.
  SerialTally unaccounted;
  const SerialTally& Used(Disposition d) const { return used[static_cast<std::size_t>(d)]; }
  SerialTally& Used(Disposition d) { return used[static_cast<std::size_t>(d)]; }
  friend bool operator==(const ReconciliationLine&, const ReconciliationLine&) = default;
};

struct Reconciliation {
  std::string troop;  // the station asked for, or empty for an officer's forms
  std::string district;
  bool wholeTroop = false;
  std::optional<std::int64_t> registry;
  std::string formType;  // empty: every form type
  std::string asOf;      // "YYYY-MM-DD", inclusive
  int gapDays = 30;
  std::string holder;                     // in words
  std::string computedAt;                 // UTC
  std::vector<ReconciliationLine> lines;  // by holder, then form type
  std::vector<ReconciliationException> exceptions;
  friend bool operator==(const Reconciliation&, const Reconciliation&) = default;
};

// Data sets of a reconciliation reply.
inline constexpr const char* kReconcileParameterDataSet = "RCNPARM";  // one row: the request
inline constexpr const char* kReconcileLineDataSet = "RCNLINE";       // one row per holder and type
// The serial ranges of each line (LINE_NBR, 1-based) by part: "held", "issued", "spoiled",
// "lost", "stolen", "in_stock", "unaccounted".
inline constexpr const char* kReconcileSpanDataSet = "RCNSPAN";
inline constexpr const char* kReconcileExceptionDataSet = "RCNEXCP";  // one row per exception

// The reply's data sets and back; FromDataSets throws ProtocolError naming what is missing.
// The exceptions carry the use's number, disposition, day, officer and reference and the
// facts; the other report of a number used twice travels in the facts.
std::map<std::string, DataSet> ReconciliationToDataSets(const Reconciliation& reconciliation);
Reconciliation ReconciliationFromDataSets(const std::map<std::string, DataSet>& dataSets);
// {"station", "officer", "form_type", "as_of", "gap_days", "holders": [{..., "unaccounted":
// [[from, to], ...]}], "exceptions": [...]} (docs/usage.md).
std::string ReconciliationToJson(const Reconciliation& reconciliation);
// A table for spreadsheets: per holder and form type one record per part (held, each
// disposition, in stock, unaccounted) with its count and ranges, then one record per
// exception.
std::vector<std::vector<std::string>> ReconciliationCsvRecords(
    const Reconciliation& reconciliation);
// The reconciliation for a terminal: a heading, per holder and form type the parts with their
// counts and ranges (a part with nothing in it left out, held always shown), then the
// exceptions with their facts.
std::string ReconciliationText(const Reconciliation& reconciliation);
// Whether it found anything an auditor must follow up: numbers unaccounted or exceptions.
bool HasFindings(const Reconciliation& reconciliation);

}  // namespace fm::protocol

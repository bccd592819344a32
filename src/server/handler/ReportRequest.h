#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "server/custody/Accountability.h"
#include "server/custody/Reconciliation.h"

namespace fm::server {

class ReferenceData;

// An accountability report as a person or a program asks for it, in texts: from the HTTP
// query (station, officer, form_type, from, to), the command line, or the criteria of a
// message of type 36.
struct ReportParameters {
  // "A1": one Troop/District; "A": the whole troop (its districts and its own ranges).
  std::string station;
  std::string officer;   // a registry number
  std::string formType;  // empty: every form type
  std::string from;      // "YYYY-MM-DD"; with `to` empty too: the last calendar month
  std::string to;        // inclusive
};

// The longest period one report covers, in days (ten years and a leap day or two): beyond
// it a mistyped year is more likely than a request.
inline constexpr int kMaxReportDays = 3660;

// The years a report's days fall in. The server's clock holds instants from 1677 to 2262
// only, and a day outside these years is a mistyped one.
inline constexpr int kFirstReportYear = 1900;
inline constexpr int kLastReportYear = 2199;

// Checks the parameters against the reference data and works out the period's instants
// (local midnights, docs/accountability.md). `today` is the local date the default period
// (the last calendar month) is counted from. Throws RequestError naming, in the words of
// the screen, what is wrong: a Troop/District or officer that is not known ("There is no
// Troop/District Q9"), neither of them, a form type that is not known, a date that is not
// one or not within kFirstReportYear to kLastReportYear, one date without the other, the
// first day after the last, a period longer than kMaxReportDays.
AccountabilityQuery ReportQueryFrom(const ReportParameters& parameters,
                                    const ReferenceData& reference,
                                    std::chrono::year_month_day today);

// A reconciliation as a person or a program asks for it: whose forms (as a report's), as of
// which day (empty: today), and the gap in days (empty: kDefaultGapDays).
struct ReconcileParameters {
  std::string station;
  std::string officer;
  std::string formType;
  std::string asOf;
  std::string gapDays;
};

// How long a skipped number may wait for its use to be reported before a reconciliation
// counts it unaccounted, unless asked otherwise; and the most it may be asked to wait.
inline constexpr int kDefaultGapDays = 30;
inline constexpr int kMaxGapDays = 3660;

// Checks the parameters as ReportQueryFrom does (the holder and form type alike) and works
// out the instant the day ends. Throws RequestError for a day that is not one or is after
// `today`, and a gap that is not a whole number of days from 0 to kMaxGapDays.
ReconciliationQuery ReconciliationQueryFrom(const ReconcileParameters& parameters,
                                            const ReferenceData& reference,
                                            std::chrono::year_month_day today);

// A stock report as a person or a program asks for it (docs/stock.md): the station ("A1", a
// whole troop "A", or empty for every station the principal sees), the form type (empty:
// every one) and the weeks the use per week is counted over (empty: kDefaultStockWeeks).
struct StockParameters {
  std::string station;
  std::string formType;
  std::string weeks;
};

inline constexpr int kDefaultStockWeeks = 13;
// The largest minimum a station may keep: more forms than any form type's numbers hold is a
// mistyped count.
inline constexpr std::int64_t kMaxStockMinimum = 1'000'000'000;

// A minimum to set: the station ("A1", or "A" for the troop's own stock), the form type and
// the fewest unassigned forms, as texts (0 removes it).
struct StockMinimumParameters {
  std::string station;
  std::string formType;
  std::string minimum;
};

// A station as a parameter names it: "A1", or a troop alone ("A").
struct StationParameter {
  std::string troop;
  std::string district;
};

// The station a parameter names (upper case, trimmed), none for an empty one. Throws
// RequestError for a station the reference data does not know ("There is no Troop/District
// Q9").
std::optional<StationParameter> ReadStationParameter(const std::string& text,
                                                     const ReferenceData& reference);
// The form type code a parameter names (upper case, trimmed; empty stays empty). Throws
// RequestError for one not known.
std::string ReadFormTypeParameter(const std::string& text, const ReferenceData& reference);
// A whole number from `lowest` to `highest`. Throws RequestError "The <caption> "x" is not
// <what> from <lowest> to <highest>".
std::int64_t ReadCountParameter(const std::string& text, const char* caption, const char* what,
                                std::int64_t lowest, std::int64_t highest);

// An allotment cap to set (docs/allotment.md): the station, the form type and the most forms
// of it one officer of the station may hold unused, as texts (0 removes it).
struct AllotmentCapParameters {
  std::string station;
  std::string formType;
  std::string cap;
};

// The largest cap a station may keep, for the same reason as the largest minimum.
inline constexpr std::int64_t kMaxAllotmentCap = kMaxStockMinimum;

// A station's reissue rule to set: the station and "on" or "off".
struct ReissueRuleParameters {
  std::string station;
  std::string state;
};

}  // namespace fm::server

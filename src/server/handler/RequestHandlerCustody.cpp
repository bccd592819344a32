// The custody requests of RequestHandler: a form's history (35) and an accountability report
// (36). Both only read.

#include <fmt/format.h>

#include <charconv>
#include <chrono>
#include <map>

#include "base/Numbers.h"
#include "base/Text.h"
#include "protocol/Count.h"
#include "server/custody/Accountability.h"
#include "server/custody/CustodyWords.h"
#include "server/handler/CountRequest.h"
#include "server/handler/ReportRequest.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/SearchCriteria.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/TimeText.h"
#include "server/store/UseChecks.h"

namespace fm::server {

namespace {

// What a request of the type is, for its refusals.
const char* RequestName(int messageType) {
  if (messageType == protocol::kFormHistoryMessage) return "A form history";
  if (messageType == protocol::kReconcileMessage) return "A reconciliation";
  return "An accountability report";
}

std::map<std::string, std::string> CustodyCriteria(const std::vector<protocol::Criterion>& criteria,
                                                   int messageType,
                                                   std::initializer_list<const char*> allowed) {
  return NamedCriteria(criteria, RequestName(messageType), allowed);
}

}  // namespace

protocol::AccountabilityReport RequestHandler::Accountability(const ReportParameters& parameters) {
  const auto today = ParseIsoDate(Today());
  if (!today) throw RequestError("The server's date could not be read");
  const ReferenceData& reference = mStore->Reference();
  const AccountabilityQuery query = ReportQueryFrom(parameters, reference, *today);
  // Inside one snapshot with whatever else the answer reads (Run's, or one of its own when
  // called directly, as the HTTP front and the command line do).
  protocol::AccountabilityReport report;
  ChainHead head;
  mStore->ReadTogether([&] {
    head = mStore->RecordChainHead();
    const HoldingsHistory history =
        mStore->ScopeHistory({query.scope, query.formType, query.start, query.end});
    report = ComputeAccountability(query, history, reference);
    AddUsesOfEnding(report, *mStore, query.toDate);
  });
  report.parameters.holder = HolderScopeText(query.scope, reference);
  report.parameters.computedAt = UtcTimestamp(std::chrono::system_clock::now());
  report.parameters.chainLink = head.seq;
  report.parameters.chainHash = head.linkHash;
  return report;
}

namespace {

protocol::DataSet CountsDataSet(const std::vector<CountOfForm>& counts) {
  std::vector<protocol::FormCount> rows;
  rows.reserve(counts.size());
  for (const CountOfForm& c : counts) {
    rows.push_back({c.number, c.troop, c.district, c.certifiedAt, c.certifiedBy, c.outcome,
                    c.settlement ? SettlementKey(c.settlement->kind) : ""});
  }
  return protocol::FormCountsToDataSet(rows);
}

}  // namespace

protocol::FormHistory RequestHandler::History(const std::string& formType, std::int64_t number,
                                              std::vector<protocol::FormUse>* uses,
                                              std::vector<CountOfForm>* counts) {
  const ReferenceData& reference = mStore->Reference();
  const std::string type = text::ToUpper(text::Trim(formType));
  if (!reference.FindFormType(type)) {
    throw RequestError(fmt::format("The Form Type \"{}\" is not known", formType));
  }
  RangeQuery holding;
  holding.formType.push_back({Comparison::Equal, type});
  holding.formNumber = number;
  // The entries and the holder from one snapshot: a save between the two reads would show a
  // holder that no entry wrote.
  std::vector<CustodyEntry> entries;
  std::vector<StoredRange> now;
  std::vector<protocol::FormUse> used;
  mStore->ReadTogether([&] {
    entries = mStore->FormHistory(type, number);
    now = mStore->FindRanges(holding);
    used = mStore->UsesOf(type, number);
    if (counts) *counts = mStore->CountsOf(type, number);
  });
  std::optional<FormRange> current;
  if (!now.empty()) current = now.front().range;
  protocol::FormHistory history = BuildFormHistory(type, number, entries, current, reference);
  history.summary += UsesSummary(used, reference);
  if (uses) *uses = std::move(used);
  return history;
}

protocol::Reply RequestHandler::AnswerCustody(const protocol::Request& request) {
  protocol::Reply reply;
  reply.requestId = request.requestId;
  reply.identity = request.identity;
  if (request.messageType == protocol::kFormHistoryMessage) {
    const auto values =
        CustodyCriteria(request.criteria, request.messageType, {"REF_TYP_CD", "FORM_SEARCH_NBR"});
    const std::string type = CriterionValue(values, "REF_TYP_CD");
    const std::string numberText = CriterionValue(values, "FORM_SEARCH_NBR");
    if (type.empty() || numberText.empty()) {
      throw RequestError(fmt::format("A form history needs the {} and the {}",
                                     CriterionCaption("REF_TYP_CD", ""),
                                     CriterionCaption("FORM_SEARCH_NBR", "")));
    }
    std::int64_t number = 0;
    if (text::ReadWholeNumber(numberText, number) != text::WholeNumberStatus::kOk || number < 0) {
      RefuseNumber(CriterionCaption("FORM_SEARCH_NBR", ""), numberText, "a form number");
    }
    std::vector<protocol::FormUse> uses;
    std::vector<CountOfForm> counts;
    reply.dataSets = protocol::FormHistoryToDataSets(History(type, number, &uses, &counts));
    reply.dataSets.emplace(protocol::kFormUseDataSet, protocol::UsesToDataSet(uses));
    reply.dataSets.emplace(protocol::kFormCountDataSet, CountsDataSet(counts));
  } else if (request.messageType == protocol::kReconcileMessage) {
    const auto values = CustodyCriteria(
        request.criteria, request.messageType,
        {"TRP_ID", "TRP_DIST_ID", "ASGND_REG_NBR", "REF_TYP_CD", "AS_OF_DT", "GAP_DAYS"});
    ReconcileParameters parameters;
    parameters.station = StationOf(values);
    parameters.officer = CriterionValue(values, "ASGND_REG_NBR");
    parameters.formType = CriterionValue(values, "REF_TYP_CD");
    parameters.asOf = CriterionValue(values, "AS_OF_DT");
    parameters.gapDays = CriterionValue(values, "GAP_DAYS");
    reply.dataSets = protocol::ReconciliationToDataSets(Reconcile(parameters));
  } else {
    const auto values = CustodyCriteria(
        request.criteria, request.messageType,
        {"TRP_ID", "TRP_DIST_ID", "ASGND_REG_NBR", "REF_TYP_CD", "FROM_DT", "TO_DT"});
    ReportParameters parameters;
    parameters.station = StationOf(values);
    parameters.officer = CriterionValue(values, "ASGND_REG_NBR");
    parameters.formType = CriterionValue(values, "REF_TYP_CD");
    parameters.from = CriterionValue(values, "FROM_DT");
    parameters.to = CriterionValue(values, "TO_DT");
    reply.dataSets = protocol::AccountabilityToDataSets(Accountability(parameters));
  }
  reply.ok = true;
  return reply;
}

}  // namespace fm::server

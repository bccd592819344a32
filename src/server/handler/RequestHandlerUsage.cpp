// The usage requests of RequestHandler (message type 37, and the same for the HTTP front and
// the command line): recording a batch of uses, and an admin's correction of one.

#include <fmt/format.h>

#include <map>

#include "base/Numbers.h"
#include "base/Text.h"
#include "server/handler/RequestError.h"
#include "server/handler/RequestHandler.h"
#include "server/handler/SearchCriteria.h"
#include "server/handler/UsageImport.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"
#include "server/store/UseChecks.h"

namespace fm::server {

namespace {

constexpr const char* kUsageKeys[] = {"SOURCE", "PREVIEW", "SUPERSEDES", "REASON"};

// The criteria of a type 37 request by name: each of kUsageKeys at most once, with "=".
std::map<std::string, std::string> UsageCriteria(const std::vector<protocol::Criterion>& criteria) {
  std::map<std::string, std::string> values;
  for (const auto& c : criteria) {
    const std::string key = text::ToUpper(text::Trim(c.key));
    const std::string name = key.rfind("KEY:", 0) == 0 ? key.substr(4) : key;
    if (std::find(std::begin(kUsageKeys), std::end(kUsageKeys), name) == std::end(kUsageKeys)) {
      throw RequestError(
          fmt::format("Recording uses does not take the criterion {}; it takes "
                      "key:SOURCE, key:PREVIEW, key:SUPERSEDES and key:REASON",
                      c.key));
    }
    if (text::Trim(c.op) != "=") {
      throw RequestError(fmt::format("The criterion {} takes only the operator \"=\"", c.key));
    }
    if (!values.emplace(name, c.value).second) {
      throw RequestError(fmt::format("The criterion {} is given twice", c.key));
    }
  }
  return values;
}

// The one text cell of `column` in the one row of the import file's data set, in place (the
// file is read from the request itself).
const std::string& FileCell(const protocol::DataSet& set, const char* column) {
  const int index = set.ColumnIndex(column);
  if (index < 0 || set.rows.size() != 1) {
    throw RequestError(
        fmt::format("The data set {} carries one row with the columns FILE_NAME "
                    "and FILE_TEXT",
                    protocol::kUseFileDataSet));
  }
  const protocol::Cell& cell = set.rows[0].at(static_cast<std::size_t>(index));
  static const std::string kNone;
  if (const auto* textCell = std::get_if<std::string>(&cell)) return *textCell;
  if (std::holds_alternative<std::monostate>(cell)) return kNone;
  throw RequestError(
      fmt::format("The column {} of {} holds a text", column, protocol::kUseFileDataSet));
}

SaveContext ContextOf(const Principal& principal, const std::string& requestId,
                      const std::string& requester) {
  SaveContext context;
  context.requestId = requestId;
  context.requester = requester;
  context.userId = principal.userId;
  context.userName = principal.displayName;
  context.scope = principal.role == Role::Admin ? StationScope::Everywhere() : principal.scope;
  return context;
}

}  // namespace

UseRules RequestHandler::UsageRules() const { return {Today(), mOptions.usage}; }

protocol::UsageOutcome RequestHandler::RecordUses(const UseBatch& batch, const Principal& principal,
                                                  const std::string& requestId,
                                                  const std::string& requester) {
  if (!principal.May(Action::RecordUses)) {
    throw StoreError::Forbidden(
        fmt::format("Your account ({}) may read the uses of forms but not record them; nothing "
                    "was recorded.",
                    RoleName(principal.role)));
  }
  return mStore->RecordUses(ContextOf(principal, requestId, requester), batch);
}

protocol::FormUse RequestHandler::CorrectUse(std::int64_t supersededId,
                                             const protocol::ReportedUse& use,
                                             const std::string& reason, const Principal& principal,
                                             const std::string& requestId,
                                             const std::string& requester) {
  if (!principal.May(Action::CorrectUses)) {
    throw StoreError::Forbidden(fmt::format(
        "Your account ({}) may not correct a recorded use; corrections are for administrators.",
        RoleName(principal.role)));
  }
  return mStore->CorrectUse(ContextOf(principal, requestId, requester), supersededId, use, reason,
                            UsageRules());
}

protocol::Reply RequestHandler::AnswerUsage(const protocol::Request& request,
                                            const Principal& principal) {
  protocol::Reply reply;
  reply.requestId = request.requestId;
  reply.identity = request.identity;
  if (request.requestId.empty()) throw RequestError("Recording uses needs a request id");
  const auto values = UsageCriteria(request.criteria);
  auto value = [&](const char* name) {
    auto it = values.find(name);
    return it == values.end() ? std::string() : it->second;
  };
  const auto file = request.dataSets.find(protocol::kUseFileDataSet);
  const auto rows = request.dataSets.find(protocol::kUseRowDataSet);
  if ((file == request.dataSets.end()) == (rows == request.dataSets.end())) {
    throw RequestError(fmt::format(
        "Recording uses (message type 37) carries either the import file in a data set named "
        "\"{}\" or the uses in one named \"{}\"",
        protocol::kUseFileDataSet, protocol::kUseRowDataSet));
  }
  if (!value("SUPERSEDES").empty()) {
    std::int64_t superseded = 0;
    if (text::ReadWholeNumber(value("SUPERSEDES"), superseded) != text::WholeNumberStatus::kOk) {
      RefuseNumber("key:SUPERSEDES", value("SUPERSEDES"), "the id of a use");
    }
    const std::vector<protocol::ReportedUse> uses =
        rows == request.dataSets.end() ? std::vector<protocol::ReportedUse>{}
                                       : protocol::UseRowsFromDataSet(rows->second);
    if (uses.size() != 1 || !text::TrimBlanks(uses[0].to).empty()) {
      throw RequestError(
          fmt::format("A correction carries the one corrected use, of one number, "
                      "in the data set \"{}\"",
                      protocol::kUseRowDataSet));
    }
    const protocol::FormUse corrected = CorrectUse(superseded, uses[0], value("REASON"), principal,
                                                   request.requestId, request.requester);
    reply.dataSets.emplace(protocol::kFormUseDataSet, protocol::UsesToDataSet({corrected}));
    reply.ok = true;
    return reply;
  }
  UseBatch batch;
  if (file != request.dataSets.end()) {
    batch =
        CsvUseBatch(FileCell(file->second, "FILE_NAME"),
                    TextBytes(FileCell(file->second, "FILE_TEXT")), value("SOURCE"), UsageRules());
  } else {
    batch.rules = UsageRules();
    batch.sourceText = value("SOURCE");
    batch.lines =
        ListedUseLines(protocol::UseRowsFromDataSet(rows->second), mOptions.usage.spanNumbers);
  }
  batch.preview = text::EqualsNoCase(text::Trim(value("PREVIEW")), "Y");
  const protocol::UsageOutcome outcome =
      RecordUses(batch, principal, request.requestId, request.requester);
  reply.dataSets = protocol::UsageOutcomeToDataSets(outcome);
  reply.ok = outcome.badLineCount == 0;
  reply.error = UsageRefusal(outcome);
  return reply;
}

}  // namespace fm::server

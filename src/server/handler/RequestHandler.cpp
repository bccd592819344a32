#include "server/handler/RequestHandler.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <optional>

#include "base/Text.h"
#include "protocol/Json.h"
#include "protocol/JsonWriter.h"
#include "server/handler/RequestError.h"
#include "server/handler/SearchCriteria.h"
#include "server/handler/WireRows.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "server/store/StoreError.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

// The major version of the request format this server answers.
constexpr std::string_view kSupportedMajor = "1";

void CheckVersion(const std::string& version) {
  std::string_view major(version);
  major = major.substr(0, major.find('.'));
  if (!version.empty() && major != kSupportedMajor) {
    throw RequestError(fmt::format(
        "The request is of version {}; this server answers version 1 requests", version));
  }
}

// A refused save is answered with the search refreshed too, so the clerk's grids can show
// what the inventory holds now: the refusal usually means someone else changed it.
bool RefreshesAfterRefusal(const StoreError& e) {
  switch (e.GetKind()) {
    case StoreError::Kind::Rejected:
    case StoreError::Kind::OverLimit:
    case StoreError::Kind::Stale:
    case StoreError::Kind::Conflict:
      return true;
    case StoreError::Kind::Forbidden:
    case StoreError::Kind::Unavailable:
    case StoreError::Kind::Internal:
      break;
  }
  return false;
}

std::string TooManyRanges(std::size_t maxRanges) {
  return fmt::format(
      "The search found more than {} ranges. Narrow the selection with a Troop/District, "
      "a form type, a registry number or a form number.",
      maxRanges);
}

}  // namespace

RequestHandler::RequestHandler(std::shared_ptr<Store> store, RequestHandlerOptions options)
    : mStore(std::move(store)), mOptions(std::move(options)) {}

RequestHandler::~RequestHandler() = default;

std::string RequestHandler::Today() const {
  return mOptions.today ? mOptions.today() : LocalDate(std::chrono::system_clock::now());
}

// Everything but the search's answer, which `search(criteria, cutShortAllowed, reply)` gives:
// it fills the reply's data sets, or writes the reply elsewhere, and throws as the store
// does. `reply.ok` and `reply.error` are set before it runs. Every answer, the search's and
// the custody ones, reads the store inside one Store::ReadTogether, so that it shows the
// inventory of one moment however many reads it takes; a read the store runs again runs the
// answer again from the start.
template <typename Search>
HandledRequest RequestHandler::Run(const protocol::Request& request, const Principal& principal,
                                   Search&& search) {
  HandledRequest answer;
  protocol::Reply& reply = answer.reply;
  bool saved = false;  // a failure after the save must not claim that nothing changed
  std::optional<std::string> refusal;           // the save was refused; the search still answers
  std::vector<protocol::IssuedReceipt> issued;  // the hand receipts the save issued
  bool overridable = false;                     // the refusal yields to the same save with a reason
  try {
    reply.requestId = request.requestId;
    reply.identity = request.identity;
    CheckVersion(request.version);
    if (!protocol::IsKnownMessageType(request.messageType)) {
      throw RequestError(fmt::format(
          "The message type {} is not known; the server answers 33 (search), 34 (save "
          "with requery), 35 (form history), 36 (accountability report), 37 (record "
          "uses), 38 (reconciliation), 39 (stock on hand), 40 (minimum stock), 41 (hand "
          "receipt) and 42 to 47 (physical counts: list, show, open, enter, certify, "
          "settle)",
          request.messageType));
    }
    if (request.messageType == protocol::kRecordUsageMessage) {
      answer.reply = AnswerUsage(request, principal);
      return answer;
    }
    if (request.messageType == protocol::kHandReceiptMessage) {
      answer.reply = AnswerReceipt(request, principal);
      return answer;
    }
    if (request.messageType >= protocol::kCountListMessage &&
        request.messageType <= protocol::kCountSettleMessage) {
      answer.reply = AnswerCount(request, principal);
      return answer;
    }
    if (request.messageType == protocol::kStockMessage ||
        request.messageType == protocol::kSetStockMinimumMessage) {
      answer.reply = AnswerStock(request, principal);
      return answer;
    }
    if (request.messageType == protocol::kFormHistoryMessage ||
        request.messageType == protocol::kAccountabilityMessage ||
        request.messageType == protocol::kReconcileMessage) {
      const Action action =
          request.messageType == protocol::kFormHistoryMessage ? Action::History : Action::Report;
      if (!principal.May(action)) {
        throw StoreError::Forbidden(
            fmt::format("Your account ({}) may not read the chain of custody of forms.",
                        RoleName(principal.role)));
      }
      mStore->ReadTogether([&] { answer.reply = AnswerCustody(request); });
      return answer;
    }
    // The criteria are read before anything is saved, so a bad one changes nothing. An
    // override is the save's, not the search's.
    std::vector<protocol::Criterion> searchCriteria;
    std::optional<std::string> overrideReason;
    for (const auto& c : request.criteria) {
      if (!text::EqualsNoCase(text::Trim(c.key), protocol::kOverrideReasonKey)) {
        searchCriteria.push_back(c);
      } else if (request.messageType != protocol::kSaveRequeryMessage || overrideReason) {
        throw RequestError(fmt::format("{} is a criterion of a save (message type 34), once",
                                       protocol::kOverrideReasonKey));
      } else {
        overrideReason = c.value;
      }
    }
    SearchCriteria criteria = ParseCriteria(searchCriteria);
    criteria.officers.today = Today();

    if (request.messageType == protocol::kSaveRequeryMessage && !principal.May(Action::Save)) {
      throw StoreError::Forbidden(fmt::format(
          "Your account ({}) may search and read the history of forms but not save changes; "
          "nothing was saved.",
          RoleName(principal.role)));
    }
    if (request.messageType == protocol::kSaveRequeryMessage) {
      auto rows = request.dataSets.find(protocol::kTroopFormDataSet);
      if (rows == request.dataSets.end()) {
        throw RequestError(
            "A save (message type 34) carries its rows in a data set named \"TROOPFORM\"; "
            "the request has none");
      }
      if (request.requestId.empty()) throw RequestError("A save needs a request id");
      std::vector<RangeChange> changes = ChangesFromDataSet(rows->second);
      SaveContext context;
      context.requestId = request.requestId;
      context.requester = request.requester;
      context.userId = principal.userId;
      context.userName = principal.displayName;
      context.scope = principal.role == Role::Admin ? StationScope::Everywhere() : principal.scope;
      context.claimedUserId = request.userId;
      context.overrideReason = overrideReason.value_or("");
      context.mayOverrideCaps = principal.role == Role::Admin;
      try {
        SaveOutcome outcome = mStore->ApplyChanges(context, changes);
        saved = true;
        for (const std::int64_t number : outcome.receipts) {
          if (auto r = mStore->Receipt(StationScope::Everywhere(), number)) {
            issued.push_back({r->number, r->registry, r->officerName, r->Total()});
          }
        }
        spdlog::info("request {} from {} (user {}): {}", request.requestId, request.requester,
                     principal.userId,
                     outcome.alreadyApplied ? std::string("already applied, not applied again")
                                            : fmt::format("{} rows applied", outcome.rowsApplied));
      } catch (const StoreError& e) {
        if (!RefreshesAfterRefusal(e)) throw;
        refusal = e.what();
        overridable = e.GetKind() == StoreError::Kind::OverLimit;
        spdlog::info("request {} from {} (user {}): refused: {}", request.requestId,
                     request.requester, principal.userId, e.what());
      }
    }

    reply.ok = !refusal;
    reply.error = refusal.value_or("");
    // After a save (applied or refused) an answer cut short is better than a failure the
    // clerk would read as the outcome of the save. Begun after the save, so its snapshot
    // holds it.
    mStore->ReadTogether([&] { search(criteria, saved || refusal.has_value(), reply); });
    // The clerk hands the paper over at once: the reply says which receipts to print.
    if (!issued.empty()) {
      reply.dataSets[protocol::kReceiptDataSet] = protocol::IssuedReceiptsToDataSet(issued);
    }
    if (overridable) {
      reply.dataSets[protocol::kOverrideDataSet] =
          protocol::DataSet{{{"OVERRIDABLE", protocol::ColumnType::Text}}, {{std::string("Y")}}};
    }
    return answer;
  } catch (const RequestError& e) {
    reply.error = e.what();
  } catch (const StoreError& e) {
    answer.forbidden = e.GetKind() == StoreError::Kind::Forbidden;
    if (e.GetKind() == StoreError::Kind::Internal) {
      spdlog::error("request {}: {}", request.requestId, e.what());
      reply.error =
          "The forms server could not complete the request because of an internal "
          "error. Tell the help desk the request id " +
          request.requestId + ".";
    } else {
      reply.error = e.what();
    }
  } catch (const std::exception& e) {
    spdlog::error("request {}: {}", request.requestId, e.what());
    reply.error =
        "The forms server could not complete the request because of an internal error. "
        "Tell the help desk the request id " +
        request.requestId + ".";
  } catch (...) {
    reply.error = "The forms server could not complete the request because of an internal error.";
  }
  if (refusal) {
    // The refreshed search failed after the refusal: the refusal is what the clerk must read.
    reply.error = *refusal;
  } else if (saved) {
    reply.error = "The changes were saved, but the refreshed search failed: " + reply.error;
  }
  reply.ok = false;
  reply.dataSets.clear();
  return answer;
}

HandledRequest RequestHandler::Handle(const protocol::Request& request,
                                      const Principal& principal) {
  return Run(request, principal,
             [this](const SearchCriteria& criteria, bool cutShortAllowed, protocol::Reply& reply) {
               RangeQuery query = criteria.ranges;
               query.limit = mOptions.maxRanges + 1;
               std::vector<StoredRange> ranges = mStore->FindRanges(query);
               const std::vector<Officer> officers = mStore->FindOfficers(criteria.officers);
               if (ranges.size() > mOptions.maxRanges) {
                 if (!cutShortAllowed) throw RequestError(TooManyRanges(mOptions.maxRanges));
                 ranges.resize(mOptions.maxRanges);
               }
               reply.dataSets.insert_or_assign(protocol::kTroopFormDataSet,
                                               TroopFormDataSet(ranges, criteria.thin));
               reply.dataSets.insert_or_assign(protocol::kOfficerDataSet, OfficerDataSet(officers));
             });
}

namespace {

void WriteReplyHead(protocol::JsonWriter& out, const protocol::Reply& reply) {
  out.BeginObject();
  out.Key("request_id");
  out.String(reply.requestId);
  out.Key("identity");
  out.String(reply.identity);
  out.Key("ok");
  out.Bool(reply.ok);
  out.Key("error");
  out.String(reply.error);
  out.Key("data_sets");
}

// A data set's text up to its first row: {"columns":[...],"rows":[
void OpenDataSet(std::string& out, const std::string& columnsJson) {
  out += "{\"columns\":";
  out += columnsJson;
  out += ",\"rows\":[";
}

}  // namespace

StreamedReply RequestHandler::HandleToJson(const protocol::Request& request,
                                           const Principal& principal, std::string& json) {
  json.clear();
  bool written = false;
  HandledRequest handled =
      Run(request, principal,
          [&](const SearchCriteria& criteria, bool cutShortAllowed, protocol::Reply& reply) {
            // The data sets go in name order ("OFFICER" before "TROOPFORM") as in ReplyToJson, but
            // the store is asked in Handle's order, ranges first. So the ranges are written first
            // and what goes before them is put in front once the officers are known: one move of
            // the text, no copy of the result in another form.
            // One read of the database for both parts (Run's, which this joins); run again whole
            // if the store retries.
            mStore->ReadTogether([&] {
              json.clear();
              protocol::JsonWriter(json).Key(protocol::kTroopFormDataSet);
              OpenDataSet(json, TroopFormColumnsJson(criteria.thin));
              const std::size_t rowsStart = json.size();
              RangeQuery query = criteria.ranges;
              query.limit = mOptions.maxRanges + 1;
              mStore->ForEachRange(query, [&](const StoredRange& stored, std::size_t index) {
                if (index == 0) json.resize(rowsStart);  // a read run again starts over
                if (index == mOptions.maxRanges) {
                  if (!cutShortAllowed) throw RequestError(TooManyRanges(mOptions.maxRanges));
                  return false;
                }
                if (index > 0) json.push_back(',');
                protocol::JsonWriter row(json);
                WriteTroopFormRow(row, stored, criteria.thin);
                return true;
              });
              json += "]}}}";  // the rows, the data set, data_sets, the reply

              std::string head;
              protocol::JsonWriter front(head);
              WriteReplyHead(front, reply);
              front.BeginObject();
              front.Key(protocol::kOfficerDataSet);
              OpenDataSet(head, OfficerColumnsJson());
              const std::vector<Officer> officers = mStore->FindOfficers(criteria.officers);
              for (std::size_t i = 0; i < officers.size(); ++i) {
                if (i > 0) head.push_back(',');
                protocol::JsonWriter row(head);
                WriteOfficerRow(row, officers[i]);
              }
              head += "]},";
              json.insert(0, head);
            });
            written = true;
          });
  if (!written && !handled.reply.dataSets.empty()) {
    // A custody reply (a form's history, a report): small, and written whole.
    json = protocol::ReplyToJson(handled.reply);
  } else if (!written) {
    // A refusal or a failure: the reply without data sets.
    json.clear();
    protocol::JsonWriter out(json);
    WriteReplyHead(out, handled.reply);
    out.BeginObject();
    out.EndObject();
    out.EndObject();
  }
  return {handled.forbidden, std::move(handled.reply.error)};
}

}  // namespace fm::server

#include "transport/TransportMessageComponent.h"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <utility>
#include <vector>

#include "base/Text.h"
#include "platform/DataSet.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/Value.h"
#include "protocol/Messages.h"
#include "transport/MessageTransport.h"
#include "transport/RecordsetWire.h"

namespace fm {

struct TransportMessageComponent::Job {
  protocol::Request request;
  // Set on the user-interface thread when the request times out; a worker that has not
  // started on it yet leaves it unsent.
  std::atomic<bool> abandoned{false};
};

// A reply as the user-interface thread stores it. The record sets are built on the worker,
// so the user-interface thread only files them.
struct TransportMessageComponent::Outcome {
  std::string requestId;
  std::string identity;
  std::string error;         // empty: the reply succeeded
  bool carried = true;       // false: no answer came back that could be read
  bool sent = true;          // false: refused before it left, so no exchange took place
  bool overridable = false;  // a save refused as one an override with a reason would pass
  // With an error: the search the server refreshed after refusing a save (may be empty).
  std::vector<std::pair<std::string, std::shared_ptr<Recordset>>> dataSets;
};

namespace {

constexpr const char* kRowVersion = "ROW_VERSION";

std::string Folded(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A cell as the server reads a code: trimmed and upper-cased, numbers in decimal.
std::string CellCode(const protocol::Cell& cell) {
  if (const auto* s = std::get_if<std::string>(&cell)) return Folded(text::Trim(*s));
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return std::to_string(*i);
  return {};
}

bool CellIsNull(const protocol::Cell& cell) {
  if (std::holds_alternative<std::monostate>(cell)) return true;
  const auto* s = std::get_if<std::string>(&cell);
  return s && text::Trim(*s).empty();
}

// A whole number as the record sets read one (a text of digits included); nullopt otherwise.
std::optional<std::int64_t> ValueNumber(const Value& value) {
  try {
    Value number = value.ConvertedTo(FieldType::Integer);
    if (number.IsInteger()) return number.AsInteger();
  } catch (const PlatformError&) {
    // not a number: no version can be matched to it
  }
  return std::nullopt;
}

std::optional<std::int64_t> CellNumber(const protocol::Cell& cell) {
  if (const auto* i = std::get_if<std::int64_t>(&cell)) return *i;
  if (const auto* d = std::get_if<double>(&cell)) return ValueNumber(Value(*d));
  if (const auto* s = std::get_if<std::string>(&cell)) return ValueNumber(Value(*s));
  return std::nullopt;
}

// (form type, From) -> To and ROW_VERSION of the ranges of a reply's "TROOPFORM".
struct ReplyRange {
  std::int64_t to = 0;
  std::int64_t version = 0;
};
using VersionIndex = std::map<std::pair<std::string, std::int64_t>, ReplyRange>;

// The range of the reply that holds `number` of the form type.
VersionIndex::const_iterator Holding(const VersionIndex& versions, const std::string& formType,
                                     std::int64_t number) {
  auto it = versions.upper_bound({formType, number});
  if (it == versions.begin()) return versions.end();
  --it;
  if (it->first.first != formType || it->second.to < number) return versions.end();
  return it;
}

VersionIndex VersionsOf(const DataSet& reply) {
  VersionIndex versions;
  // A clone has its own cursor and no filter: the grid bound to the reply keeps its row, and
  // every range of the reply is seen.
  auto rows = reply.GetRecordset().Clone();
  const int type = rows->FindField("FORM_TYP_CD");
  const int from = rows->FindField("FRM_FORM_NBR");
  const int to = rows->FindField("TO_FORM_NBR");
  const int version = rows->FindField(kRowVersion);
  if (type < 0 || from < 0 || version < 0) return versions;
  for (long i = 0; i < rows->RecordCount(); ++i) {
    auto first = ValueNumber(rows->ValueAt(i, from));
    // A reply without To bounds answers for the ranges starting at a From only.
    auto last = to < 0 ? first : ValueNumber(rows->ValueAt(i, to));
    auto v = ValueNumber(rows->ValueAt(i, version));
    if (!first || !last || !v) continue;
    versions.emplace(std::pair{Folded(text::Trim(rows->ValueAt(i, type).ToText())), *first},
                     ReplyRange{*last, *v});
  }
  return versions;
}

// A save of new ranges alone: no row replaces a stored range.
bool IsReceiptSave(const protocol::Request& request) {
  if (request.messageType != protocol::kSaveRequeryMessage) return false;
  auto it = request.dataSets.find(protocol::kTroopFormDataSet);
  if (it == request.dataSets.end() || it->second.rows.empty()) return false;
  const int action = it->second.ColumnIndex("ACTION");
  if (action < 0) return false;
  for (const auto& row : it->second.rows) {
    if (CellCode(row[static_cast<std::size_t>(action)]) != "ADD") return false;
  }
  return true;
}

protocol::Request ToWireRequest(const MessageRequest& request, std::int64_t userId) {
  protocol::Request out;
  out.requestId = request.RequestId();
  out.identity = request.Identity();
  out.version = request.Version();
  out.requester = request.RequesterValue();
  out.userId = userId;
  out.messageType = request.MessageType();
  for (const auto& [name, dataSet] : request.DataSets()) {
    if (!dataSet->IsOpen()) {
      throw PlatformError(PlatformError::kObjectClosed,
                          fmt::format("The data set attached as '{}' is not open", name));
    }
    if (out.dataSets.count(name) > 0) {
      throw PlatformError(PlatformError::kGeneric,
                          fmt::format("The request carries two data sets named '{}'", name));
    }
    try {
      out.dataSets.emplace(name, ToWireDataSet(dataSet->GetRecordset()));
    } catch (const PlatformError& error) {
      throw PlatformError(error.Number(), fmt::format("The data set '{}' cannot be sent: {}", name,
                                                      error.Description()));
    }
  }
  out.criteria.reserve(request.Criteria().size());
  for (const RequestCriterion& criterion : request.Criteria()) {
    // A criterion added without an operator asks for equality, as the server reads it.
    out.criteria.push_back({criterion.key, criterion.value,
                            criterion.op.empty() ? std::string("=") : criterion.op,
                            criterion.application});
  }
  return out;
}

std::string DurationText(std::chrono::milliseconds duration) {
  const auto ms = duration.count();
  if (ms % 1000 == 0) {
    const auto seconds = ms / 1000;
    return fmt::format("{} second{}", seconds, seconds == 1 ? "" : "s");
  }
  return fmt::format("{:.1f} seconds", static_cast<double>(ms) / 1000.0);
}

}  // namespace

TransportMessageComponent::Options TransportMessageComponent::Options::FromSettings(
    const SiteSettings& settings) {
  Options options;
  options.timeout = settings.Timeout();
  options.userId = settings.UserId();
  return options;
}

std::shared_ptr<TransportMessageComponent> TransportMessageComponent::Create(
    std::shared_ptr<MessageTransport> transport, Options options) {
  if (!transport) {
    throw PlatformError(PlatformError::kGeneric, "The message component needs a transport");
  }
  // Not make_shared: the constructor is private so that every component is shared-owned,
  // which the weak references of its posted events rely on.
  return std::shared_ptr<TransportMessageComponent>(
      new TransportMessageComponent(std::move(transport), options));
}

TransportMessageComponent::TransportMessageComponent(std::shared_ptr<MessageTransport> transport,
                                                     Options options)
    : mTransport(std::move(transport)), mOptions(options) {
  mWorker = std::thread([this] { WorkerMain(); });
}

TransportMessageComponent::~TransportMessageComponent() {
  {
    std::lock_guard lock(mMutex);
    mStopping = true;
    mJobs.clear();
  }
  mWake.notify_all();
  mTransport->Cancel();
  if (mWorker.joinable()) mWorker.join();
  // Time-outs still running are left to run: they hold only a weak reference and find
  // nothing. Not cancelling them keeps the destructor off the services, which may already
  // be gone when the process's shared component is destroyed at exit.
}

std::string TransportMessageComponent::TimeoutText(std::chrono::milliseconds timeout) {
  return fmt::format(
      "The forms server did not answer within {}. The request may still have been carried "
      "out: search again to see the current forms before repeating a save. If this keeps "
      "happening, call the help desk.",
      DurationText(timeout));
}

void TransportMessageComponent::Send(const MessageRequest& request) {
  auto job = std::make_shared<Job>();
  job->request = ToWireRequest(request, mOptions.userId);
  const std::string requestId = job->request.requestId;
  if (mPending.count(requestId) > 0) {
    throw PlatformError(PlatformError::kGeneric,
                        fmt::format("Request {} is already waiting for its reply", requestId));
  }

  const std::optional<std::string> refusal = FillRowVersions(job->request);
  Document& document = mDocuments[Folded(job->request.identity)];
  document.latestSent = requestId;
  document.refusedSave.reset();
  if (refusal) {
    // Answered here, as the server would answer a refused save: through the event loop, so
    // the document learns of it after Send returns, like any reply.
    spdlog::info("Request {} for {} was not sent: {}", requestId, job->request.identity, *refusal);
    mPending.emplace(requestId, Pending{job->request.identity, std::nullopt, job});
    auto outcome = std::make_shared<Outcome>();
    outcome->requestId = requestId;
    outcome->identity = job->request.identity;
    outcome->error = *refusal;
    outcome->sent = false;
    Services::Loop().Post([weak = weak_from_this(), outcome] {
      if (auto self = weak.lock()) self->Deliver(*outcome);
    });
    return;
  }
  if (IsReceiptSave(job->request)) document.receiptSaveUnconfirmed = true;
  Queue(std::move(job));
}

bool TransportMessageComponent::ResendWithOverride(const std::string& identity,
                                                   const std::string& reason) {
  const auto found = mDocuments.find(Folded(identity));
  if (found == mDocuments.end() || !found->second.refusedSave) return false;
  Document& document = found->second;
  auto job = std::make_shared<Job>();
  job->request = document.refusedSave->request;
  document.refusedSave.reset();
  if (mPending.count(job->request.requestId) > 0) return false;
  auto& criteria = job->request.criteria;
  criteria.erase(std::remove_if(criteria.begin(), criteria.end(),
                                [](const protocol::Criterion& c) {
                                  return Folded(text::Trim(c.key)) ==
                                         Folded(protocol::kOverrideReasonKey);
                                }),
                 criteria.end());
  criteria.push_back({protocol::kOverrideReasonKey, reason, "=",
                      criteria.empty() ? std::string() : criteria.front().application});
  // The same request id: the refused save was not applied, and a reply lost on the way may
  // be asked again without applying it twice.
  document.latestSent = job->request.requestId;
  if (IsReceiptSave(job->request)) document.receiptSaveUnconfirmed = true;
  spdlog::info("Request {} for {} sent again with an override", job->request.requestId,
               job->request.identity);
  Queue(std::move(job));
  return true;
}

void TransportMessageComponent::Queue(std::shared_ptr<Job> job) {
  const std::string requestId = job->request.requestId;
  Pending pending{job->request.identity, std::nullopt, job};
  if (mOptions.timeout > std::chrono::milliseconds::zero()) {
    pending.timer =
        Services::Loop().StartTimer(mOptions.timeout, [weak = weak_from_this(), requestId] {
          if (auto self = weak.lock()) self->TimeOut(requestId);
        });
  }
  mPending.emplace(requestId, std::move(pending));
  {
    std::lock_guard lock(mMutex);
    mJobs.push_back(std::move(job));
  }
  mWake.notify_one();
}

void TransportMessageComponent::WorkerMain() {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock lock(mMutex);
      mWake.wait(lock, [this] { return mStopping || !mJobs.empty(); });
      if (mStopping) return;
      job = std::move(mJobs.front());
      mJobs.pop_front();
    }
    if (job->abandoned.load()) {
      spdlog::warn("Request {} for {} timed out while waiting to be sent; it was not sent",
                   job->request.requestId, job->request.identity);
      continue;
    }
    std::shared_ptr<Outcome> outcome = Carry(*job);
    // Posted under the lock, so that once the destructor has set mStopping nothing more
    // reaches the event loop. Only a weak reference crosses to the user-interface thread:
    // the component may be gone by the time the event runs, and the worker must never own
    // it (its destructor joins the worker).
    std::lock_guard lock(mMutex);
    if (mStopping) return;
    Services::Loop().Post([weak = weak_from_this(), outcome] {
      if (auto self = weak.lock()) self->Deliver(*outcome);
    });
  }
}

std::shared_ptr<TransportMessageComponent::Outcome> TransportMessageComponent::Carry(
    const Job& job) {
  auto outcome = std::make_shared<Outcome>();
  outcome->requestId = job.request.requestId;
  outcome->identity = job.request.identity;

  protocol::Reply reply;
  try {
    reply = mTransport->Exchange(job.request);
  } catch (const AccountRefusal& error) {
    // The server answered: the connection is sound, the account is what was refused.
    outcome->error = error.Description();
    return outcome;
  } catch (const PlatformError& error) {
    outcome->error = error.Description();
    outcome->carried = false;
    return outcome;
  } catch (const std::exception& error) {
    outcome->carried = false;
    outcome->error =
        fmt::format("The request could not be carried to the forms server: {}", error.what());
    return outcome;
  }

  if (!reply.requestId.empty() && reply.requestId != job.request.requestId) {
    spdlog::error("The forms server answered request {} with the reply to {}",
                  job.request.requestId, reply.requestId);
    outcome->carried = false;
    outcome->error = fmt::format(
        "The forms server answered another request ({}) instead of this one. Please try "
        "again; if it keeps happening, call the help desk.",
        reply.requestId);
    return outcome;
  }
  outcome->overridable = !reply.ok && job.request.messageType == protocol::kSaveRequeryMessage &&
                         reply.dataSets.count(protocol::kOverrideDataSet) > 0;
  if (!reply.ok) {
    outcome->error = reply.error.empty()
                         ? std::string("The forms server refused the request without saying why.")
                         : reply.error;
  }
  for (auto& [name, dataSet] : reply.dataSets) {
    try {
      // The reply is ours alone: its texts move into the record sets.
      outcome->dataSets.emplace_back(name, FromWireDataSet(std::move(dataSet), name));
    } catch (const PlatformError& error) {
      outcome->dataSets.clear();
      if (!reply.ok) {
        // Only the refreshed search of a refusal is lost; the refusal still reaches the clerk.
        spdlog::warn("The refreshed search after refused request {} could not be read: {}",
                     job.request.requestId, error.Description());
        break;
      }
      outcome->carried = false;
      outcome->error = fmt::format("The forms server's reply could not be read (data set {}): {}",
                                   name, error.Description());
      break;
    }
  }
  return outcome;
}

void TransportMessageComponent::Deliver(const Outcome& outcome) {
  const auto it = mPending.find(outcome.requestId);
  if (it == mPending.end()) {
    spdlog::warn("The reply to request {} for {} came after its time-out and was dropped",
                 outcome.requestId, outcome.identity);
    return;
  }
  if (it->second.timer) Services::Loop().CancelTimer(*it->second.timer);
  std::shared_ptr<Job> job = it->second.job;
  mPending.erase(it);

  Document& document = mDocuments[Folded(outcome.identity)];
  if (outcome.overridable && document.latestSent == outcome.requestId) document.refusedSave = job;
  auto isLatest = [&] { return document.latestSent == outcome.requestId; };
  const bool accepted = outcome.error.empty();
  const bool refresh =
      !accepted && !outcome.dataSets.empty() && isLatest() && !document.receiptSaveUnconfirmed;
  auto replies = Services::Replies();
  bool holdsRanges = false;
  if (accepted || refresh) {
    for (const auto& [name, recordset] : outcome.dataSets) {
      replies->Put(DataSet::Wrap(recordset), name, outcome.identity, outcome.requestId);
      holdsRanges = holdsRanges || Folded(name) == protocol::kTroopFormDataSet;
    }
  }
  replies->SetError(outcome.identity, outcome.requestId, outcome.error);
  if (accepted) {
    if (holdsRanges) document.latestReply = outcome.requestId;
    if (isLatest()) document.receiptSaveUnconfirmed = false;
  }
  if (outcome.sent) {
    RaiseExchangeEnded(
        {outcome.carried ? ExchangeOutcome::Result::Answered : ExchangeOutcome::Result::Failed,
         outcome.identity, outcome.carried ? std::string() : outcome.error, outcome.requestId,
         document.refusedSave && outcome.overridable ? outcome.error : std::string()});
  }
  RaiseDataReady(outcome.identity);

  // The refusal has been read; now the grids take the refreshed search, unless the document
  // has sent something newer meanwhile (its reply will refresh them).
  if (refresh && isLatest()) {
    replies->SetError(outcome.identity, outcome.requestId, std::string());
    if (holdsRanges) document.latestReply = outcome.requestId;
    RaiseDataReady(outcome.identity);
  }
}

std::optional<std::string> TransportMessageComponent::FillRowVersions(protocol::Request& request) {
  if (request.messageType != protocol::kSaveRequeryMessage) return std::nullopt;
  auto it = request.dataSets.find(protocol::kTroopFormDataSet);
  if (it == request.dataSets.end()) return std::nullopt;
  protocol::DataSet& rows = it->second;
  const int action = rows.ColumnIndex("ACTION");
  const int type = rows.ColumnIndex("FORM_TYP_CD");
  const int from = rows.ColumnIndex("FRM_FORM_NBR");
  // Rows the server cannot read are left for it to name.
  if (action < 0 || type < 0 || from < 0) return std::nullopt;
  auto isUpdate = [&](const protocol::Row& row) {
    return CellCode(row[static_cast<std::size_t>(action)]) == "UPD";
  };
  if (std::none_of(rows.rows.begin(), rows.rows.end(), isUpdate)) return std::nullopt;

  int version = rows.ColumnIndex(kRowVersion);
  if (version < 0) {
    rows.columns.push_back({kRowVersion, protocol::ColumnType::Integer});
    for (auto& row : rows.rows) row.emplace_back();
    version = static_cast<int>(rows.columns.size()) - 1;
  }
  const protocol::ColumnType versionType = rows.columns[static_cast<std::size_t>(version)].type;

  const Document& document = mDocuments[Folded(request.identity)];
  std::shared_ptr<DataSet> latest;
  if (!document.latestReply.empty()) {
    latest = Services::Replies()->Get(protocol::kTroopFormDataSet, request.identity,
                                      document.latestReply);
  }
  const VersionIndex versions = latest ? VersionsOf(*latest) : VersionIndex{};
  for (auto& row : rows.rows) {
    auto& cell = row[static_cast<std::size_t>(version)];
    if (!isUpdate(row) || !CellIsNull(cell)) continue;
    const std::string formType = CellCode(row[static_cast<std::size_t>(type)]);
    const auto first = CellNumber(row[static_cast<std::size_t>(from)]);
    if (!first) continue;  // the server names the bad number
    auto found = versions.find({formType, *first});
    // A lone "UPD" may change part of a range (the server splits a CVSA decal range so): it
    // replaces the range that holds its From.
    if (found == versions.end() && rows.rows.size() == 1)
      found = Holding(versions, formType, *first);
    if (found == versions.end()) {
      return fmt::format(
          "The range starting at {} of form type {} is not in the result of your latest search, "
          "so it may have been changed by another user since. Search again and repeat the "
          "change.",
          *first, formType);
    }
    switch (versionType) {
      case protocol::ColumnType::Integer:
        cell = found->second.version;
        break;
      case protocol::ColumnType::Double:
        cell = static_cast<double>(found->second.version);
        break;
      case protocol::ColumnType::Text:
        cell = std::to_string(found->second.version);
        break;
    }
  }
  return std::nullopt;
}

void TransportMessageComponent::TimeOut(const std::string& requestId) {
  const auto it = mPending.find(requestId);
  if (it == mPending.end()) return;
  const std::string identity = it->second.identity;
  it->second.job->abandoned.store(true);
  mPending.erase(it);
  spdlog::warn("Request {} for {} got no reply within {} ms", requestId, identity,
               mOptions.timeout.count());

  Services::Replies()->SetError(identity, requestId, TimeoutText(mOptions.timeout));
  RaiseExchangeEnded(
      {ExchangeOutcome::Result::TimedOut, identity, TimeoutText(mOptions.timeout), requestId});
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(mOptions.timeout);
  RaiseMsgTimeout(static_cast<long>(seconds.count()));
  RaiseDataReady(identity);
}

}  // namespace fm

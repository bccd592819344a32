#include "platform/testing/ScriptedMessageComponent.h"

#include <fmt/format.h>

#include "platform/DataSet.h"
#include "platform/EventLoop.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"

namespace fm::testing {

void ScriptedMessageComponent::Send(const MessageRequest& request) {
  SentRequest sent;
  sent.requestId = request.RequestId();
  sent.identity = request.Identity();
  sent.version = request.Version();
  sent.requester = request.RequesterValue();
  sent.messageType = request.MessageType();
  for (const auto& [name, dataSet] : request.DataSets()) {
    sent.dataSets[name] = dataSet->GetRecordset().Copy();
  }
  sent.criteria = request.Criteria();
  mSent.push_back(std::move(sent));
  if (mResponder) mResponder(*this, mSent.back());
}

const ScriptedMessageComponent::SentRequest& ScriptedMessageComponent::LastSent() const {
  if (mSent.empty()) throw PlatformError(PlatformError::kGeneric, "No request was sent");
  return mSent.back();
}

const ScriptedMessageComponent::SentRequest& ScriptedMessageComponent::Find(
    const std::string& requestId) const {
  for (const auto& sent : mSent) {
    if (sent.requestId == requestId) return sent;
  }
  throw PlatformError(PlatformError::kGeneric, fmt::format("No request {} was sent", requestId));
}

void ScriptedMessageComponent::ReplyOk(
    const std::string& requestId, const std::map<std::string, std::shared_ptr<Recordset>>& dataSets,
    const std::string& target) {
  const SentRequest& sent = Find(requestId);
  auto replies = Services::Replies();
  for (const auto& [name, recordset] : dataSets) {
    replies->Put(DataSet::Wrap(recordset), name, sent.identity, requestId);
  }
  replies->SetError(sent.identity, requestId, "");
  const std::string to = target.empty() ? sent.identity : target;
  Services::Loop().Post([this, to] { RaiseDataReady(to); });
}

void ScriptedMessageComponent::ReplyError(const std::string& requestId, const std::string& error,
                                          const std::string& target) {
  const SentRequest& sent = Find(requestId);
  Services::Replies()->SetError(sent.identity, requestId, error);
  const std::string to = target.empty() ? sent.identity : target;
  Services::Loop().Post([this, to] { RaiseDataReady(to); });
}

void ScriptedMessageComponent::TimeOut(const std::string& requestId) {
  const SentRequest& sent = Find(requestId);
  Services::Replies()->SetError(
      sent.identity, requestId,
      "The forms server did not answer in time. Please try again; if it keeps happening, "
      "call the help desk.");
  const std::string to = sent.identity;
  Services::Loop().Post([this] { RaiseMsgTimeout(0); });
  Services::Loop().Post([this, to] { RaiseDataReady(to); });
}

}  // namespace fm::testing

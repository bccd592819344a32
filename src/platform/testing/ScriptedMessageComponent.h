#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/MessageComponent.h"

namespace fm {
class Recordset;
}

namespace fm::testing {

// A message component for tests: records every request sent (a copy of what it carried,
// with the attached rows copied at the moment of sending) and delivers the replies a test
// scripts, through the process-wide event loop, as a real transport does.
class ScriptedMessageComponent final : public MessageComponent {
 public:
  struct SentRequest {
    std::string requestId;
    std::string identity;
    std::string version;
    std::string requester;
    std::int16_t messageType = 0;
    std::map<std::string, std::shared_ptr<Recordset>> dataSets;  // copies
    std::vector<RequestCriterion> criteria;
  };

  void Send(const MessageRequest& request) override;

  // Runs for every request as it is sent, after it is recorded: a test scripts the
  // server's answer here (ReplyOk, ReplyError or TimeOut, which post their events).
  using Responder = std::function<void(ScriptedMessageComponent&, const SentRequest&)>;
  void SetResponder(Responder responder) { mResponder = std::move(responder); }

  const std::vector<SentRequest>& Sent() const { return mSent; }
  const SentRequest& LastSent() const;  // throws when nothing was sent

  // Stores the reply's data sets in the reply store under the request's identity and id,
  // and posts DataReady(target) to the event loop. `target` empty: the request's identity.
  void ReplyOk(const std::string& requestId,
               const std::map<std::string, std::shared_ptr<Recordset>>& dataSets,
               const std::string& target = {});
  // A failed reply: the reply store holds the error text.
  void ReplyError(const std::string& requestId, const std::string& error,
                  const std::string& target = {});
  // Posts MsgTimeout, then a failed DataReady whose reply check reports the time-out.
  void TimeOut(const std::string& requestId);

 private:
  const SentRequest& Find(const std::string& requestId) const;
  std::vector<SentRequest> mSent;
  Responder mResponder;
};

}  // namespace fm::testing

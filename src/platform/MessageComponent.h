#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace fm {

class DataSet;
class MessageComponent;

// One criterion of a request: "key:NAME", its value, the operator and the application id.
struct RequestCriterion {
  std::string key;
  std::string value;
  std::string op;
  std::string application;
  friend bool operator==(const RequestCriterion&, const RequestCriterion&) = default;
};

// One request to the central server. Created by the message component, filled by the
// document, sent once. The request id is fixed at creation and unique across processes and
// restarts.
class MessageRequest {
 public:
  MessageRequest(MessageComponent& component, std::string requestId);

  const std::string& RequestId() const { return mRequestId; }
  void SetIdentity(std::string identity) { mIdentity = std::move(identity); }
  void SetVersion(std::string version) { mVersion = std::move(version); }
  void SetRequesterValue(std::string value) { mRequester = std::move(value); }
  void SetMessageType(std::int16_t type) { mMessageType = type; }
  // Attaches a data set under a name; a null data set attaches nothing.
  void AttachDataSet(std::shared_ptr<DataSet> dataSet, std::string name);
  void AddCriterion(std::string key, std::string value, std::string op, std::string application);
  // Hands the request to the component's transport; the answer comes as DataReady. A
  // request is sent at most once; sending again throws PlatformError.
  void Send();

  const std::string& Identity() const { return mIdentity; }
  const std::string& Version() const { return mVersion; }
  const std::string& RequesterValue() const { return mRequester; }
  std::int16_t MessageType() const { return mMessageType; }
  const std::vector<std::pair<std::string, std::shared_ptr<DataSet>>>& DataSets() const {
    return mDataSets;
  }
  const std::vector<RequestCriterion>& Criteria() const { return mCriteria; }
  bool Sent() const { return mSent; }

 private:
  MessageComponent& mComponent;
  std::string mRequestId;
  std::string mIdentity;
  std::string mVersion;
  std::string mRequester;
  std::int16_t mMessageType = 0;
  std::vector<std::pair<std::string, std::shared_ptr<DataSet>>> mDataSets;
  std::vector<RequestCriterion> mCriteria;
  bool mSent = false;
};

// How one exchange with the forms server ended, for whoever shows the state of the
// connection: the server answered (a refusal is an answer too), the request could not be
// carried or its reply not read, or no answer came in time.
struct ExchangeOutcome {
  enum class Result { Answered, Failed, TimedOut };
  Result result = Result::Answered;
  std::string identity;  // the request's identity
  std::string reason;    // what went wrong; empty when answered
  std::string
      requestId{};  // the request's id: its reply's data sets are in the reply store under it
  // A save the server refused over an allotment cap or a reissue rule that the account may
  // override: the refusal, for whoever offers the override (ResendWithOverride). Empty
  // otherwise.
  std::string overridable{};
};

// Receives the component's events on the user-interface thread.
class MessageListener {
 public:
  virtual ~MessageListener() = default;
  // A reply for the request identity `target` is in the reply store.
  virtual void OnDataReady(const std::string& target) = 0;
  // A request got no reply in time. The value is informational only.
  virtual void OnMsgTimeout(long value) = 0;
  // An exchange ended, just before the events it leads to (MsgTimeout, DataReady). Only
  // components that carry requests to a server raise it; the default ignores it.
  virtual void OnExchangeEnded(const ExchangeOutcome& /*outcome*/) {}
};

// The message component: one per process, shared by every document. Events reach every
// listener that holds the component. Concrete components differ in how they carry a
// request (in-process inventory, HTTP, or a test script).
class MessageComponent {
 public:
  virtual ~MessageComponent() = default;

  // The process's shared component (created by the installed factory on first call).
  static std::shared_ptr<MessageComponent> Obtain();
  using Factory = std::function<std::shared_ptr<MessageComponent>()>;
  // Installs the factory Obtain uses and drops the current shared component.
  static void SetFactory(Factory factory);

  std::unique_ptr<MessageRequest> CreateRequest();

  // Listeners are not owned; a listener must remove itself before it is destroyed.
  void AddListener(MessageListener* listener);
  void RemoveListener(MessageListener* listener);
  std::size_t ListenerCount() const;

  // Called by MessageRequest::Send.
  virtual void Send(const MessageRequest& request) = 0;

  // Sends again, with the override and its reason, the save of `identity` refused last as
  // overridable (ExchangeOutcome::overridable), under its own request id, so that its reply
  // reaches the document as the answer to the save it made. False when there is none to send
  // (the document has sent something since, or the component carries no saves).
  virtual bool ResendWithOverride(const std::string& /*identity*/, const std::string& /*reason*/) {
    return false;
  }

 protected:
  // Raise the events to every listener; call on the user-interface thread.
  void RaiseDataReady(const std::string& target);
  void RaiseMsgTimeout(long value);
  void RaiseExchangeEnded(const ExchangeOutcome& outcome);

 private:
  void ForEachListener(const std::function<void(MessageListener&)>& raise);

  mutable std::mutex mMutex;
  std::vector<MessageListener*> mListeners;
};

// A request id unique across processes and restarts: random 128 bits in hex, with the
// time in front so ids sort roughly by creation.
std::string NewRequestId();

}  // namespace fm

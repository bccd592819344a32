#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/MessageComponent.h"

namespace fm::protocol {
struct Request;
}

namespace fm {

class MessageTransport;
class SiteSettings;

// The message component of a running program: each request is converted to the wire form
// when it is sent (its attached rows as they stand at that moment) and carried by a
// transport on a worker thread; the reply comes back to the user-interface thread through
// the process's event loop (Services::Loop()).
//
// On the user-interface thread a reply is put into the reply store (Services::Replies()):
// each data set under its name, the request's identity and the request id, and the outcome
// (the empty text, or the error text of a refused or failed request); then DataReady with
// the request's identity goes to every listener. A transport failure (server unreachable,
// HTTP error status, unreadable reply) is a failed reply whose error text says so. Before
// that, ExchangeEnded tells the listeners whether the server answered (a refusal is an
// answer), the exchange failed, or it timed out.
//
// Time-out: a request that has no reply within the time-out raises MsgTimeout and then
// DataReady; its reply check reports the time-out in words a clerk understands
// (TimeoutText). A reply that comes later is dropped and logged; a request still waiting
// for the worker when its time runs out is not sent at all.
//
// Requests are carried one at a time, in the order sent, so a search sent after a save
// sees the save. Several documents may share the component; each reply goes to all
// listeners with the identity of the request that asked for it.
//
// Saves (message type 34) and the versions of ranges. Every "UPD" row of a save must tell the
// server which version of the range it replaces. The screen never writes ROW_VERSION: Send
// fills it in each "UPD" row left without one from the row of the same form type and From in
// the latest successful reply delivered for the request's identity (a document keeps only
// the reply to its latest request; it is read from the reply store). A "UPD" row whose
// range that reply does not hold refuses the save before it is sent: the request is
// answered like a failed save, a DataReady whose reply check says why.
//
// A refused save. The server answers a refused save with the refusal and the search
// refreshed. The refusal is delivered first (the document shows it, as any failed reply);
// then, if the save is still the identity's latest request and no save of new ranges alone
// (rows all "ADD") is waiting for an accepted reply, its reply check turns to success and a
// second DataReady delivers the refreshed data sets, so the grids show what the inventory
// holds now. The condition keeps pending new ranges: a document empties its new-ranges list
// on the first accepted reply after saving them, and must not take a refresh for that
// reply. docs/transport.md explains the choice.
//
// Threads: Send and the events run on the user-interface thread; only the transport runs
// on the worker. Destroying the component stops the worker (cancelling an exchange in
// progress); replies and time-outs not yet delivered are then never raised.
class TransportMessageComponent final
    : public MessageComponent,
      public std::enable_shared_from_this<TransportMessageComponent> {
 public:
  struct Options {
    // Zero or less: no time-out.
    std::chrono::milliseconds timeout{std::chrono::seconds(30)};
    // The user sent with every request (the site settings' user id).
    std::int64_t userId = 0;

    static Options FromSettings(const SiteSettings& settings);
  };

  // `transport` must not be null (PlatformError).
  static std::shared_ptr<TransportMessageComponent> Create(
      std::shared_ptr<MessageTransport> transport, Options options);
  ~TransportMessageComponent() override;
  TransportMessageComponent(const TransportMessageComponent&) = delete;
  TransportMessageComponent& operator=(const TransportMessageComponent&) = delete;

  // Converts and queues the request, and starts its time-out. A data set that is not open,
  // two data sets under one name or a value that cannot travel throw PlatformError; the
  // request is then not sent.
  void Send(const MessageRequest& request) override;
  bool ResendWithOverride(const std::string& identity, const std::string& reason) override;

  // Requests sent and neither answered nor timed out. User-interface thread.
  std::size_t PendingCount() const { return mPending.size(); }

  // What the reply check of a timed-out request answers.
  static std::string TimeoutText(std::chrono::milliseconds timeout);

 private:
  struct Job;
  struct Outcome;
  struct Pending {
    std::string identity;
    std::optional<EventLoop::TimerId> timer;
    std::shared_ptr<Job> job;  // marked abandoned on time-out
  };
  // What the component knows of one identity's requests (identities folded to upper case,
  // as the reply store keeps them).
  struct Document {
    std::string latestSent;   // request id of the latest request sent
    std::string latestReply;  // request id of the latest accepted reply holding "TROOPFORM"
    // A save of new ranges alone was sent and no accepted reply to a latest request came
    // since: the document would take the next accepted reply as the answer to it.
    bool receiptSaveUnconfirmed = false;
    // The latest save refused as overridable, until the document sends anything else.
    std::shared_ptr<Job> refusedSave{};
  };

  TransportMessageComponent(std::shared_ptr<MessageTransport> transport, Options options);

  // Files the request as pending, starts its time-out and hands it to the worker.
  void Queue(std::shared_ptr<Job> job);
  void WorkerMain();
  std::shared_ptr<Outcome> Carry(const Job& job);
  void Deliver(const Outcome& outcome);
  void TimeOut(const std::string& requestId);
  // Fills ROW_VERSION in the "UPD" rows of a save from the range of the identity's latest
  // reply starting at the row's From (a lone "UPD", which may change part of a range: the
  // range holding its From); answers the refusal when there is none.
  std::optional<std::string> FillRowVersions(protocol::Request& request);

  const std::shared_ptr<MessageTransport> mTransport;  // constant after construction
  const Options mOptions;

  // User-interface thread only.
  std::map<std::string, Pending> mPending;     // by request id
  std::map<std::string, Document> mDocuments;  // by folded identity

  // State below is protected by mMutex; it is what the worker shares.
  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<std::shared_ptr<Job>> mJobs;
  bool mStopping = false;

  std::thread mWorker;  // started last, joined by the destructor
};

}  // namespace fm

#pragma once

#include "platform/PlatformError.h"
#include "protocol/Messages.h"

namespace fm {

// What a transport throws when the server answered but refused the account that sent the
// request (a token it does not accept, a change the account may not make). The clerk reads
// it as any failed reply; the exchange did reach the server, so it is no connection failure.
class AccountRefusal : public PlatformError {
 public:
  explicit AccountRefusal(std::string description)
      : PlatformError(PlatformError::kGeneric, std::move(description)) {}
};

// Carries one request to the forms server and brings back its reply. The message component
// calls Exchange from its worker thread, one request at a time; implementations need not be
// reentrant but must allow Cancel from another thread.
class MessageTransport {
 public:
  virtual ~MessageTransport() = default;

  // Blocks until the reply is in. A reply the server gives (ok or refused) is answered; a
  // refusal of the account throws AccountRefusal; a failure to carry the request (the server
  // cannot be reached, another HTTP error status, a reply that cannot be read, a local
  // inventory that cannot be opened) throws PlatformError whose text tells a clerk plainly
  // what went wrong.
  virtual protocol::Reply Exchange(const protocol::Request& request) = 0;

  // Ends any exchange in progress and refuses every later one (the component is shutting
  // down). Thread-safe; the default has nothing to interrupt.
  virtual void Cancel() {}
};

}  // namespace fm

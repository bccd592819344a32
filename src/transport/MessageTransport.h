#pragma once

#include "protocol/Messages.h"

namespace fm {

// Carries one request to the forms server and brings back its reply. The message component
// calls Exchange from its worker thread, one request at a time; implementations need not be
// reentrant but must allow Cancel from another thread.
class MessageTransport {
 public:
  virtual ~MessageTransport() = default;

  // Blocks until the reply is in. A reply the server gives (ok or refused) is answered;
  // a failure to carry the request (the server cannot be reached, an HTTP error status, a
  // reply that cannot be read, a local inventory that cannot be opened) throws PlatformError
  // whose text tells a clerk plainly what went wrong.
  virtual protocol::Reply Exchange(const protocol::Request& request) = 0;

  // Ends any exchange in progress and refuses every later one (the component is shutting
  // down). Thread-safe; the default has nothing to interrupt.
  virtual void Cancel() {}
};

}  // namespace fm

#pragma once

#include <string>
#include <utility>
#include <vector>

#include "protocol/Messages.h"

namespace fm::testing {

// A request as the screen's message component sends it (its identity and version, user
// 1001), for the tests and benchmarks that write requests of their own. `requester` is the
// site's value the server records with a save: each program names itself.
inline protocol::Request ScreenRequest(std::string requester, std::string id, int type,
                                       std::vector<protocol::Criterion> criteria = {}) {
  protocol::Request r;
  r.requestId = std::move(id);
  r.identity = "TARVO_FormsMaint#1";
  r.version = "1.0";
  r.requester = std::move(requester);
  r.userId = 1001;
  r.messageType = type;
  r.criteria = std::move(criteria);
  return r;
}

}  // namespace fm::testing

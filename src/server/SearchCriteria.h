#pragma once

#include <vector>

#include "protocol/Messages.h"
#include "server/StoreTypes.h"

namespace fm::server {

// What the criteria of a request ask for.
struct SearchCriteria {
  RangeQuery ranges;
  OfficerQuery officers;  // `today` is left for the caller to set
  bool thin = false;
};

// Reads the criteria of a request (see RequestHandler.h for the keys). Key names are
// matched without regard to letter case; values of code keys are trimmed and upper-cased.
// Throws RequestError naming the key, the operator or the value that is not understood.
SearchCriteria ParseCriteria(const std::vector<protocol::Criterion>& criteria);

}  // namespace fm::server

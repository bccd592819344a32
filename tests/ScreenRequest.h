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

// A criterion of the screen's search form, as its Search button sends it.
inline protocol::Criterion ScreenKey(const char* name, std::string value, const char* op = "=") {
  return {std::string("key:") + name, std::move(value), op, "QUILLMAR"};
}

// The search a clerk makes most: a station's ranges of one form type in stock or with its
// officers (voided ones left out), the rows thin. The district may be empty (a whole troop).
// The benchmarks, the load generator and scripts/search-vs-healthz.sh all send this one.
inline std::vector<protocol::Criterion> StationSearch(const std::string& troop,
                                                      const std::string& district,
                                                      const std::string& formType) {
  std::vector<protocol::Criterion> c = {ScreenKey("TRP_ID", troop)};
  if (!district.empty()) c.push_back(ScreenKey("TRP_DIST_ID", district));
  c.push_back(ScreenKey("REF_TYP_CD", formType));
  c.push_back(ScreenKey("INACTIVE", "N"));
  c.push_back(ScreenKey("TRP_ACTN_CD", "V", "<>"));
  c.push_back(ScreenKey("THIN", "YES"));
  return c;
}

}  // namespace fm::testing

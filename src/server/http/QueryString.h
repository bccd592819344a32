#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "server/http/HttpApi.h"

namespace fm::server {

// The %-decoded parameters of a request target's query into `parameters` ('+' is a blank,
// as forms encode it), each named at most once and only from `known`. Answers the 400 to
// send instead when the query breaks a rule (a broken %-escape, a name not in `known`, a
// name given twice); `path` is the endpoint the answer names.
std::optional<HttpAnswer> ReadQuery(std::string_view target, std::string_view path,
                                    std::initializer_list<std::string_view> known,
                                    std::map<std::string, std::string>& parameters);

}  // namespace fm::server

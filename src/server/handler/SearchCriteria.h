#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "protocol/Messages.h"
#include "server/store/StoreTypes.h"

namespace fm::server {

// What the criteria of a request ask for.
struct SearchCriteria {
  RangeQuery ranges;
  OfficerQuery officers;  // `today` is left for the caller to set
  bool thin = false;
};

// Reads the criteria of a request (see RequestHandler.h for the keys). Key names are
// matched without regard to letter case; values of code keys are trimmed and upper-cased.
// Throws RequestError naming the criterion (by the caption the screen gives it, see
// CriterionCaption), the operator or the value that is not understood.
SearchCriteria ParseCriteria(const std::vector<protocol::Criterion>& criteria);

// What a clerk knows a criterion by, from its name (upper case, without "key:"): the caption
// of the screen's entry or grid column ("Troop/District", "Form Type", "Registry #", "Form
// Number", "Status", "Inactive Forms"...); `written` (the key as the request wrote it) for a
// name the screen has no caption for.
std::string CriterionCaption(const std::string& name, const std::string& written);

// "The Form Number \"12a\" is not a form number; it is written in digits only", "The Form
// Number \"99999999999999999999\" is too large to be a form number": what is said of a number
// criterion whose value is not a whole number from 0 up. `what` is the kind of number ("a
// form number", "a registry number").
std::string NumberRefusal(const std::string& caption, const std::string& value, const char* what);
// Throws RequestError with the NumberRefusal.
[[noreturn]] void RefuseNumber(const std::string& caption, const std::string& value,
                               const char* what);

// Of the criteria of a report read by name (upper case, without "key:"): the value of `name`,
// empty when not given; and the Troop/District of TRP_ID and TRP_DIST_ID as a report's station
// ("A1", "A", or empty), refusing a district without its troop (RequestError).
std::string CriterionValue(const std::map<std::string, std::string>& values, const char* name);
std::string StationOf(const std::map<std::string, std::string>& values);

// The criteria of a request that names its keys (a report, a history, a count) by name, upper
// case without "key:"; each may be given once, with "=". Any key outside `allowed` is refused
// (RequestError), saying what `requestName` ("A form history") takes.
std::map<std::string, std::string> NamedCriteria(const std::vector<protocol::Criterion>& criteria,
                                                 const char* requestName,
                                                 std::initializer_list<const char*> allowed);

}  // namespace fm::server

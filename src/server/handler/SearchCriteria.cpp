#include "server/handler/SearchCriteria.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>

#include "base/Numbers.h"
#include "base/Text.h"
#include "server/handler/RequestError.h"

namespace fm::server {

namespace {

constexpr std::string_view kKeyPrefix = "key:";

std::string Caption(const protocol::Criterion& c) {
  const std::string key = text::ToUpper(text::Trim(c.key));
  return CriterionCaption(key.substr(std::min(key.size(), kKeyPrefix.size())), c.key);
}

Comparison ParseOperator(const protocol::Criterion& c) {
  const std::string op = text::Trim(c.op);
  if (op == "=") return Comparison::Equal;
  if (op == "<>") return Comparison::NotEqual;
  if (op == "<") return Comparison::Less;
  if (op == "<=") return Comparison::LessEqual;
  if (op == ">") return Comparison::Greater;
  if (op == ">=") return Comparison::GreaterEqual;
  throw RequestError(fmt::format(
      "The operator \"{}\" of the {} criterion is not known; use one of = <> < <= > >=", c.op,
      Caption(c)));
}

std::int64_t ParseWholeNumber(const protocol::Criterion& c, const char* what) {
  std::int64_t n = 0;
  if (text::ReadWholeNumber(c.value, n) != text::WholeNumberStatus::kOk || n < 0) {
    RefuseNumber(Caption(c), c.value, what);
  }
  return n;
}

void RequireEqual(const protocol::Criterion& c) {
  if (ParseOperator(c) != Comparison::Equal) {
    throw RequestError(fmt::format("The {} criterion takes only the operator \"=\", not \"{}\"",
                                   Caption(c), c.op));
  }
}

bool ParseFlag(const protocol::Criterion& c, std::initializer_list<const char*> yes,
               std::initializer_list<const char*> no) {
  const std::string value = text::ToUpper(text::Trim(c.value));
  for (const char* y : yes) {
    if (value == y) return true;
  }
  for (const char* n : no) {
    if (value == n) return false;
  }
  throw RequestError(fmt::format("The {} criterion takes \"{}\" or \"{}\", not \"{}\"", Caption(c),
                                 *yes.begin(), *no.begin(), c.value));
}

}  // namespace

SearchCriteria ParseCriteria(const std::vector<protocol::Criterion>& criteria) {
  SearchCriteria result;
  bool seenInactive = false;
  bool seenThin = false;
  for (const auto& c : criteria) {
    const std::string key = text::ToUpper(text::Trim(c.key));
    if (key.compare(0, kKeyPrefix.size(), "KEY:") != 0) {
      throw RequestError(fmt::format(
          "The criterion \"{}\" is not known; criteria are written \"key:\" and a name", c.key));
    }
    const std::string name = key.substr(kKeyPrefix.size());
    if (name == "TRP_ID" || name == "TRP_DIST_ID" || name == "REF_TYP_CD" ||
        name == "TRP_ACTN_CD") {
      Condition<std::string> condition{ParseOperator(c), text::ToUpper(text::Trim(c.value))};
      auto& list = name == "TRP_ID"        ? result.ranges.troop
                   : name == "TRP_DIST_ID" ? result.ranges.district
                   : name == "REF_TYP_CD"  ? result.ranges.formType
                                           : result.ranges.status;
      list.push_back(condition);
      if (condition.comparison == Comparison::Equal) {
        if (name == "TRP_ID" && !result.officers.troop) result.officers.troop = condition.value;
        if (name == "TRP_DIST_ID" && !result.officers.district) {
          result.officers.district = condition.value;
        }
      }
    } else if (name == "ASGND_REG_NBR") {
      Condition<std::int64_t> condition{ParseOperator(c), ParseWholeNumber(c, "a registry number")};
      result.ranges.registry.push_back(condition);
      if (condition.comparison == Comparison::Equal && !result.officers.registry) {
        result.officers.registry = condition.value;
      }
    } else if (name == "FORM_SEARCH_NBR") {
      RequireEqual(c);
      std::int64_t number = ParseWholeNumber(c, "a form number");
      if (result.ranges.formNumber && *result.ranges.formNumber != number) {
        throw RequestError(
            fmt::format("The {} is given twice, with different numbers", Caption(c)));
      }
      result.ranges.formNumber = number;
    } else if (name == "INACTIVE") {
      RequireEqual(c);
      bool inactive = ParseFlag(c, {"Y", "YES"}, {"N", "NO"});
      if (seenInactive && inactive != result.ranges.inactiveOnly) {
        throw RequestError(
            fmt::format("The {} criterion is given twice, with different values", Caption(c)));
      }
      seenInactive = true;
      result.ranges.inactiveOnly = inactive;
    } else if (name == "THIN") {
      RequireEqual(c);
      bool thin = ParseFlag(c, {"YES", "Y"}, {"NO", "N"});
      if (seenThin && thin != result.thin) {
        throw RequestError(
            fmt::format("The {} criterion is given twice, with different values", Caption(c)));
      }
      seenThin = true;
      result.thin = thin;
    } else {
      throw RequestError(fmt::format("The criterion \"{}\" is not known", c.key));
    }
  }
  return result;
}

std::string CriterionCaption(const std::string& name, const std::string& written) {
  static const std::pair<const char*, const char*> kCaptions[] = {
      {"TRP_ID", "Troop/District (troop)"},
      {"TRP_DIST_ID", "Troop/District (district)"},
      {"REF_TYP_CD", "Form Type"},
      {"ASGND_REG_NBR", "Registry #"},
      {"FORM_SEARCH_NBR", "Form Number"},
      {"TRP_ACTN_CD", "Status"},
      {"INACTIVE", "Inactive Forms"},
      {"THIN", "thin reply"},
      {"FROM_DT", "first day of the period"},
      {"TO_DT", "last day of the period"},
      {"AS_OF_DT", "day to reconcile as of"},
      {"GAP_DAYS", "gap in days"},
      {"CNT_NBR", "Count Number"},
      {"FRM_FORM_NBR", "From Range"},
      {"TO_FORM_NBR", "To Range"},
      {"OUTCOME_CD", "settlement outcome"},
  };
  for (const auto& [key, caption] : kCaptions) {
    if (name == key) return caption;
  }
  return fmt::format("\"{}\"", written);
}

std::string NumberRefusal(const std::string& caption, const std::string& value, const char* what) {
  std::int64_t ignored = 0;
  if (text::ReadWholeNumber(value, ignored) == text::WholeNumberStatus::kTooLarge) {
    return fmt::format("The {} \"{}\" is too large to be {}", caption, value, what);
  }
  return fmt::format("The {} \"{}\" is not {}; it is written in digits only", caption, value, what);
}

void RefuseNumber(const std::string& caption, const std::string& value, const char* what) {
  throw RequestError(NumberRefusal(caption, value, what));
}

std::string CriterionValue(const std::map<std::string, std::string>& values, const char* name) {
  auto it = values.find(name);
  return it == values.end() ? std::string() : it->second;
}

std::string StationOf(const std::map<std::string, std::string>& values) {
  const std::string troop = CriterionValue(values, "TRP_ID");
  const std::string district = CriterionValue(values, "TRP_DIST_ID");
  if (troop.empty() && !district.empty()) {
    throw RequestError(fmt::format(
        "The Troop/District has a district (\"{}\") but no troop; a district is of a troop",
        district));
  }
  return troop + district;
}

std::map<std::string, std::string> NamedCriteria(const std::vector<protocol::Criterion>& criteria,
                                                 const char* requestName,
                                                 std::initializer_list<const char*> allowed) {
  std::map<std::string, std::string> values;
  for (const auto& c : criteria) {
    const std::string key = text::ToUpper(text::Trim(c.key));
    const std::string name = key.rfind("KEY:", 0) == 0 ? key.substr(4) : std::string();
    const std::string caption = CriterionCaption(name, c.key);
    bool known = false;
    for (const char* a : allowed) known = known || name == a;
    if (!known) {
      std::string list;
      const std::vector<const char*> names(allowed);
      for (std::size_t i = 0; i < names.size(); ++i) {
        list += (i == 0                  ? "the "
                 : i + 1 == names.size() ? " and the "
                                         : ", the ") +
                CriterionCaption(names[i], names[i]);
      }
      throw RequestError(fmt::format("{} does not take the {} criterion; it takes {}", requestName,
                                     caption, list));
    }
    if (text::Trim(c.op) != "=") {
      throw RequestError(
          fmt::format("The {} criterion takes only the operator \"=\", not \"{}\"", caption, c.op));
    }
    if (!values.emplace(name, text::Trim(c.value)).second) {
      throw RequestError(fmt::format("The {} criterion is given twice", caption));
    }
  }
  return values;
}

}  // namespace fm::server

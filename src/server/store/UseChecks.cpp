#include "server/store/UseChecks.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/Numbers.h"
#include "base/Text.h"
#include "server/store/ChangeRules.h"
#include "server/store/ReferenceData.h"
#include "server/store/TimeText.h"

namespace fm::server {

namespace {

using protocol::Disposition;

// Longest part of a value a message repeats: enough to find it in the file.
constexpr std::size_t kShownCharacters = 40;

// The value in quotes as a message repeats it, shortened; a value that is not UTF-8 is not
// repeated at all (it is said to be such elsewhere).
std::string Shown(std::string_view value) {
  if (text::InvalidUtf8At(value) != value.size()) return "(not UTF-8 text)";
  if (text::CharCount(value) <= kShownCharacters) return fmt::format("\"{}\"", value);
  return fmt::format("\"{}...\"", value.substr(0, text::ByteOffset(value, kShownCharacters)));
}

bool AllDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!text::IsDigit(c)) return false;
  }
  return true;
}

// A number field: digits only (a sign is no part of a form or registry number). Answers the
// number, or adds the problem.
std::optional<std::int64_t> NumberField(std::string_view caption, std::string_view written,
                                        std::vector<std::string>& problems) {
  const std::string_view digits = text::TrimBlanks(written);
  std::int64_t value = 0;
  if (!AllDigits(digits) || text::ReadWholeNumber(digits, value) != text::WholeNumberStatus::kOk) {
    problems.push_back(
        fmt::format("{} {} is not a whole number written in digits", caption, Shown(written)));
    return std::nullopt;
  }
  return value;
}

const FormTypeInfo* FindFormType(std::string_view written, const ReferenceData& reference) {
  const std::string wanted = text::Trim(written);
  if (const FormTypeInfo* byCode = reference.FindFormType(text::ToUpper(wanted))) return byCode;
  for (const auto& type : reference.FormTypes()) {
    if (text::EqualsNoCase(text::Trim(type.description), wanted)) return &type;
  }
  return nullptr;
}

const char* FormName(Disposition d) {
  switch (d) {
    case Disposition::Issued:
      return "an issued form";
    case Disposition::Spoiled:
      return "a spoiled form";
    case Disposition::Lost:
      return "a lost form";
    case Disposition::Stolen:
      return "a stolen form";
  }
  return "a form";
}

}  // namespace

std::string TextProblem(std::string_view caption, std::string_view value, std::size_t maxLength) {
  const std::string_view text = text::TrimBlanks(value);
  if (const std::size_t bad = text::InvalidUtf8At(value); bad != value.size()) {
    return fmt::format("{} is not UTF-8 text (byte {} is not)", caption, bad + 1);
  }
  // Blanks are trimmed, except the two a spreadsheet takes as the start of a formula.
  const std::size_t first = value.find_first_not_of(' ');
  if (first != std::string_view::npos && (value[first] == '\t' || value[first] == '\r')) {
    return fmt::format(
        "{} starts with a {}, which a spreadsheet would take as the start of "
        "a formula",
        caption, value[first] == '\t' ? "tab" : "carriage return");
  }
  if (!text.empty() && std::string_view("=+-@").find(text.front()) != std::string_view::npos) {
    return fmt::format(
        "{} {} starts with \"{}\" and looks like a spreadsheet formula; write it "
        "without",
        caption, Shown(text), text.front());
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) {
      return fmt::format("{} holds a control character (byte {})", caption, i + 1);
    }
  }
  if (const std::size_t length = text::CharCount(text); length > maxLength) {
    return fmt::format("{} is {} characters long; at most {} are kept", caption, length, maxLength);
  }
  return {};
}

std::string UsageRefusal(const protocol::UsageOutcome& o) {
  if (o.badLineCount == 0) return {};
  const bool one = o.badLineCount == 1;
  return fmt::format("No use was recorded: {} line{} {} bad{}. Correct {} and send the uses again.",
                     o.badLineCount, one ? "" : "s", one ? "is" : "are",
                     o.badLines.size() < static_cast<std::size_t>(o.badLineCount)
                         ? fmt::format(" (the first {} are listed)", o.badLines.size())
                         : "",
                     one ? "it" : "them");
}

std::string JoinProblems(const std::vector<std::string>& problems) {
  std::string joined;
  for (const auto& p : problems) joined += (joined.empty() ? "" : "; ") + p;
  return joined;
}

std::optional<protocol::FormUse> CheckUse(const protocol::ReportedUse& use,
                                          const ReferenceData& reference, const UseRules& rules,
                                          std::vector<std::string>& problems) {
  const std::size_t before = problems.size();
  const std::size_t maxLength = rules.limits.fieldLength;
  auto text = [&](const char* caption, const std::string& value) {
    std::string problem = TextProblem(caption, value, maxLength);
    const bool fits = problem.empty();
    if (!fits) problems.push_back(std::move(problem));
    return fits;
  };
  auto missing = [](const std::string& value) { return text::TrimBlanks(value).empty(); };
  protocol::FormUse checked;

  const FormTypeInfo* type = nullptr;
  if (missing(use.formType)) {
    problems.emplace_back("the form type is missing");
  } else if (text("the form type", use.formType)) {
    type = FindFormType(use.formType, reference);
    if (!type) {
      problems.push_back(
          fmt::format("the form type {} is neither the code nor the description of a form type",
                      Shown(use.formType)));
    }
  }
  if (missing(use.number)) {
    problems.emplace_back("the number is missing");
  } else if (auto number = NumberField("the number", use.number, problems)) {
    checked.number = *number;
    if (type && (*number < type->lowest || *number > type->highest)) {
      problems.push_back(fmt::format("the number {} of {} must be equal to or between {} and {}",
                                     *number, FormTypeName(type->code, reference), type->lowest,
                                     type->highest));
    }
  }
  std::optional<Disposition> disposition;
  if (missing(use.disposition)) {
    problems.emplace_back("the disposition is missing; it is ISSUED, SPOILED, LOST or STOLEN");
  } else if (text("the disposition", use.disposition)) {
    disposition = protocol::DispositionFromKey(text::TrimBlanks(use.disposition));
    if (!disposition) {
      problems.push_back(fmt::format("the disposition {} is not ISSUED, SPOILED, LOST or STOLEN",
                                     Shown(use.disposition)));
    }
  }
  const std::string day = text::Trim(use.usedOn);
  if (day.empty()) {
    problems.emplace_back("the date of use is missing");
  } else if (day.size() != 10 || !ParseIsoDate(day)) {
    problems.push_back(
        fmt::format("the date of use {} is not a day written YYYY-MM-DD", Shown(use.usedOn)));
  } else if (day > rules.today) {
    problems.push_back(fmt::format("the date of use {} is after today ({})", day, rules.today));
  }
  std::int64_t registry = 0;
  if (!missing(use.officer)) {
    if (auto officer = NumberField("the officer", use.officer, problems)) {
      if (*officer == 0 || !reference.HasRegistry(*officer)) {
        problems.push_back(fmt::format("no officer has the registry number {}", *officer));
      }
      registry = *officer;
    }
  } else if (disposition == Disposition::Issued || disposition == Disposition::Spoiled) {
    problems.push_back(
        fmt::format("{} needs the registry number of the officer", FormName(*disposition)));
  }
  const bool referenceOk = text("the reference", use.reference);
  if (referenceOk && missing(use.reference) &&
      (disposition == Disposition::Issued || disposition == Disposition::Stolen)) {
    problems.push_back(fmt::format("{} needs a reference ({})", FormName(*disposition),
                                   disposition == Disposition::Issued
                                       ? "the citation, permit or case number"
                                       : "the police report's"));
  }
  const bool noteOk = text("the note", use.note);
  if (noteOk && missing(use.note) && disposition == Disposition::Spoiled) {
    problems.emplace_back("a spoiled form needs a note saying why it was voided");
  }
  if (problems.size() != before) return std::nullopt;
  checked.formType = type->code;
  checked.disposition = *disposition;
  checked.usedOn = day;
  checked.registry = registry;
  checked.reference = text::Trim(use.reference);
  checked.note = text::Trim(use.note);
  return checked;
}

}  // namespace fm::server

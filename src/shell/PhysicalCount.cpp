#include "shell/PhysicalCount.h"

#include <fmt/format.h>

#include <algorithm>

#include "base/Numbers.h"
#include "base/Text.h"
#include "platform/DataSet.h"
#include "shell/SearchSummary.h"
#include "shell/ShellExchange.h"
#include "shell/UsageImport.h"
#include "transport/RecordsetWire.h"

namespace fm::shell {

namespace {

const std::vector<std::string> kSheetDataSets = {
    protocol::kCountHeadDataSet, protocol::kCountSpanDataSet, protocol::kCountSettlementDataSet};

// "A1" as the criteria of a station; none for a text that cannot be one (a troop letter, then
// a district of at most two characters).
std::optional<std::vector<std::pair<std::string, std::string>>> CountStationCriteria(
    const std::string& station) {
  if (station.empty() || station.size() > 3 || station[0] < 'A' || station[0] > 'Z') {
    return std::nullopt;
  }
  std::vector<std::pair<std::string, std::string>> criteria{{"TRP_ID", station.substr(0, 1)}};
  if (station.size() > 1) criteria.emplace_back("TRP_DIST_ID", station.substr(1));
  return criteria;
}

std::int64_t Forms(std::int64_t from, std::int64_t to) { return to - from + 1; }

std::string Plural(std::size_t n, const char* one, const char* many) {
  return n == 1 ? fmt::format("1 {}", one)
                : fmt::format("{} {}", GroupedNumber(static_cast<long long>(n)), many);
}

}  // namespace

const std::vector<std::string> PhysicalCount::kFoundHeadings = {"Form type", "From", "To", "Forms",
                                                                "Held by"};
const std::vector<std::string> PhysicalCount::kMissingHeadings = {
    "Form type", "From", "To", "Forms", "Held by", "Settled"};
const std::vector<std::string> PhysicalCount::kUnexpectedHeadings = {
    "Form type", "From", "To", "Forms", "Reason", "Held now"};

PhysicalCount::PhysicalCount(TimeText timeText, Changed changed, Options options)
    : mTimeText(std::move(timeText)),
      mChanged(std::move(changed)),
      mOptions(options),
      mFormTypes(LocalCodeEntries("FORMTYPE")),
      mExchange(std::make_unique<ShellExchange>("PhysicalCount")) {}

PhysicalCount::~PhysicalCount() = default;

bool PhysicalCount::Waiting() const { return mExchange->Waiting(); }

void PhysicalCount::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged(Change::Status);
}

std::string PhysicalCount::Described(const std::string& code) const {
  const int index = CodeIndex(mFormTypes, code);
  if (index < 0) return code;
  const std::string description = text::Trim(mFormTypes[static_cast<std::size_t>(index)].second);
  return description.empty() ? code : description;
}

std::string PhysicalCount::Time(const std::string& utc) const {
  return mTimeText && !utc.empty() ? mTimeText(utc) : utc;
}

const protocol::CountSheet& PhysicalCount::Sheet() const {
  static const protocol::CountSheet kNone;
  return mSheet ? *mSheet : kNone;
}

void PhysicalCount::ListCounts(const std::string& stationText) {
  const std::string station = text::ToUpper(text::Trim(stationText));
  const auto criteria = CountStationCriteria(station);
  if (!criteria) {
    Say("Type the Troop/District to count (e.g. A1, or A for the troop's own stock).", true);
    return;
  }
  mExchange->Send(
      protocol::kCountListMessage, *criteria, {protocol::kCountListDataSet},
      [this, station](const std::string& error, const ShellExchange::DataSets& sets) {
        if (!error.empty()) {
          Say(error, true);
          return;
        }
        try {
          mCounts = protocol::CountListFromDataSets(sets);
        } catch (const std::exception& e) {
          Say(fmt::format("The counts could not be read: {}", e.what()), true);
          return;
        }
        mStation = station;
        if (mChanged) mChanged(Change::Counts);
        Say(mCounts.empty()
                ? fmt::format("{} has no physical count yet: choose its form types and open one.",
                              station)
                : fmt::format("{} of {}: pick one, or open a new one.",
                              Plural(mCounts.size(), "physical count", "physical counts"), station),
            false);
      });
  if (Waiting()) Say(fmt::format("Asking for the physical counts of {}...", station), false);
}

void PhysicalCount::Open(const std::string& stationText, const std::vector<int>& formTypes) {
  const std::string station = text::ToUpper(text::Trim(stationText));
  auto criteria = CountStationCriteria(station);
  std::string types;
  for (const int index : formTypes) {
    if (index < 0 || index >= static_cast<int>(mFormTypes.size())) continue;
    types += (types.empty() ? "" : ",") + mFormTypes[static_cast<std::size_t>(index)].first;
  }
  if (!criteria || types.empty()) {
    Say("Type the Troop/District and tick the form types to count before opening a count.", true);
    return;
  }
  criteria->emplace_back("REF_TYP_CD", types);
  SendSheet(protocol::kCountOpenMessage, *criteria, nullptr, nullptr,
            fmt::format("Opening a physical count of {}: its book is fixed now...", station));
}

void PhysicalCount::Pick(int index) {
  if (index < 0 || index >= static_cast<int>(mCounts.size())) {
    Say("Pick a count of the list first.", true);
    return;
  }
  const auto& head = mCounts[static_cast<std::size_t>(index)];
  SendSheet(protocol::kCountShowMessage, {{protocol::kCountNumberKey, std::to_string(head.number)}},
            nullptr, nullptr, fmt::format("Asking for physical count {}...", head.number));
}

std::vector<std::pair<std::string, std::string>> PhysicalCount::ShownCount() const {
  return {{protocol::kCountNumberKey, std::to_string(Sheet().head.number)}};
}

void PhysicalCount::EnterSpan(int formType, const std::string& fromText,
                              const std::string& toText) {
  if (!CanChange()) {
    Say("Open a count, or pick one not certified yet, before entering numbers.", true);
    return;
  }
  const std::string from = text::Trim(fromText);
  const std::string to = text::Trim(toText);
  const auto first = text::WholeNumber(from);
  const auto last = to.empty() ? first : text::WholeNumber(to);
  if (!first || !last || *last < *first) {
    Say("Type the first number counted and, for a span, the last (not below the first).", true);
    return;
  }
  std::string type;
  if (formType >= 0 && formType < static_cast<int>(mFormTypes.size())) {
    type = mFormTypes[static_cast<std::size_t>(formType)].first;
  } else if (Sheet().head.formTypes.size() != 1) {
    Say("Choose the form type of the numbers: the count counts more than one.", true);
    return;
  }
  const auto rows = protocol::CountEntriesToDataSet({{type, from, to}});
  SendSheet(protocol::kCountEntryMessage, ShownCount(), DataSet::Wrap(FromWireDataSet(rows)),
            protocol::kCountEntryDataSet, "Entering the counted numbers...");
}

void PhysicalCount::ImportFile(const std::filesystem::path& path) {
  if (!CanChange()) {
    Say("Open a count, or pick one not certified yet, before importing numbers.", true);
    return;
  }
  shell::ImportFile file;
  if (std::string problem =
          ReadImportFile(path, mOptions.fileLimit, file, "formsmaint-server count import");
      !problem.empty()) {
    Say(std::move(problem), true);
    return;
  }
  SendSheet(protocol::kCountEntryMessage, ShownCount(),
            DataSet::Wrap(FromWireDataSet(protocol::CountTextToDataSet(file.text))),
            protocol::kCountTextDataSet, fmt::format("Importing {}...", file.name));
}

void PhysicalCount::Certify(const std::string& statementText) {
  if (!CanChange()) {
    Say("Pick a count not certified yet to certify it.", true);
    return;
  }
  const std::string statement = text::Trim(statementText);
  if (statement.empty() || statement.size() > kMaxStatementLength) {
    Say(fmt::format("Write the statement of the certification (at most {} characters).",
                    GroupedNumber(static_cast<long long>(kMaxStatementLength))),
        true);
    return;
  }
  SendSheet(protocol::kCountCertifyMessage, ShownCount(),
            DataSet::Wrap(FromWireDataSet(protocol::CountTextToDataSet(statement))),
            protocol::kCountTextDataSet, "Certifying the count...");
}

void PhysicalCount::SendSheet(int messageType,
                              const std::vector<std::pair<std::string, std::string>>& criteria,
                              std::shared_ptr<DataSet> rows, const char* rowsName,
                              std::string busy) {
  if (Waiting()) return;
  const auto answer = [this, messageType](const std::string& error,
                                          const ShellExchange::DataSets& sets) {
    if (!error.empty()) {
      Say(error, true);
      return;
    }
    try {
      ShowSheet(protocol::CountSheetFromDataSets(sets), messageType);
    } catch (const std::exception& e) {
      Say(fmt::format("The count could not be read: {}", e.what()), true);
    }
  };
  mExchange->Send(messageType, criteria, kSheetDataSets, answer, std::move(rows),
                  rowsName ? rowsName : protocol::kTroopFormDataSet);
  if (Waiting()) Say(std::move(busy), false);
}

void PhysicalCount::ShowSheet(protocol::CountSheet sheet, int messageType) {
  mSheet = std::move(sheet);
  const auto& head = mSheet->head;
  // A count opened or certified here belongs in the list the window shows of its station.
  if (head.troop + head.district == mStation) {
    auto listed = std::find_if(mCounts.begin(), mCounts.end(),
                               [&](const auto& c) { return c.number == head.number; });
    if (listed == mCounts.end()) listed = mCounts.insert(mCounts.end(), head);
    *listed = head;
    listed->statement.clear();
    if (mChanged) mChanged(Change::Counts);
  }
  if (mChanged) mChanged(Change::Sheet);
  std::string said;
  if (messageType == protocol::kCountOpenMessage) {
    said = fmt::format("Physical count {} is open: its book holds {}. Enter what you count.",
                       head.number, Plural(mSheet->book.size(), "span", "spans"));
  } else if (messageType == protocol::kCountCertifyMessage) {
    said =
        fmt::format("Physical count {} is certified; it never changes from now on.", head.number);
  } else {
    said = Summary();
  }
  Say(said, false);
}

std::vector<std::string> PhysicalCount::CountChoices() const {
  std::vector<std::string> choices;
  for (const auto& c : mCounts) {
    std::string types;
    for (const auto& t : c.formTypes) types += (types.empty() ? "" : ", ") + Described(t);
    choices.push_back(fmt::format(
        "{}: {}, opened {} by {}; {}", c.number, types, Time(c.openedAt), c.openedBy,
        c.Certified() ? fmt::format("certified {} by {}", Time(c.certifiedAt), c.certifiedBy)
                      : std::string("open")));
  }
  return choices;
}

std::string PhysicalCount::Heading() const {
  const auto& h = Sheet().head;
  std::string types;
  for (const auto& t : h.formTypes) types += (types.empty() ? "" : ", ") + Described(t);
  return fmt::format("Physical count {} of {}{}: {}, opened {} by {}", h.number, h.troop,
                     h.district, types, Time(h.openedAt), h.openedBy);
}

std::string PhysicalCount::Summary() const {
  const auto& s = Sheet();
  std::int64_t book = 0;
  std::int64_t found = 0;
  std::int64_t missing = 0;
  std::int64_t unexpected = 0;
  for (const auto& b : s.book) book += Forms(b.from, b.to);
  for (const auto& b : s.found) found += Forms(b.from, b.to);
  for (const auto& b : s.missing) missing += Forms(b.from, b.to);
  for (const auto& u : s.unexpected) unexpected += Forms(u.from, u.to);
  return fmt::format("Book: {} forms in {}. Found {}, missing {}, unexpected {}.",
                     GroupedNumber(book), Plural(s.book.size(), "span", "spans"),
                     GroupedNumber(found), GroupedNumber(missing), GroupedNumber(unexpected));
}

std::string PhysicalCount::Certification() const {
  const auto& h = Sheet().head;
  if (!h.Certified()) return "Not certified yet: enter what was counted, then certify.";
  return fmt::format("Certified by {} at {}: {}", h.certifiedBy, Time(h.certifiedAt), h.statement);
}

std::vector<std::vector<std::string>> PhysicalCount::FoundRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& b : Sheet().found) {
    rows.push_back({Described(b.formType), std::to_string(b.from), std::to_string(b.to),
                    GroupedNumber(Forms(b.from, b.to)),
                    b.registry ? fmt::format("officer {}", b.registry) : "the shelf"});
  }
  return rows;
}

std::vector<std::vector<std::string>> PhysicalCount::MissingRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& b : Sheet().missing) {
    std::string settled;
    for (const auto& s : Sheet().settlements) {
      if (s.formType != b.formType || s.to < b.from || s.from > b.to) continue;
      settled += fmt::format("{}{}-{} {} by {}", settled.empty() ? "" : "; ", s.from, s.to,
                             protocol::SettlementText(s.outcome), s.by);
    }
    rows.push_back({Described(b.formType), std::to_string(b.from), std::to_string(b.to),
                    GroupedNumber(Forms(b.from, b.to)),
                    b.registry ? fmt::format("officer {}", b.registry) : "the shelf", settled});
  }
  return rows;
}

std::vector<std::vector<std::string>> PhysicalCount::UnexpectedRows() const {
  std::vector<std::vector<std::string>> rows;
  for (const auto& u : Sheet().unexpected) {
    rows.push_back({Described(u.formType), std::to_string(u.from), std::to_string(u.to),
                    GroupedNumber(Forms(u.from, u.to)), protocol::UnexpectedReasonText(u.reason),
                    u.detail});
  }
  return rows;
}

std::string PhysicalCount::SuggestedFileName(const char* extension) const {
  return fmt::format("physical-count-{}.{}", Sheet().head.number, extension);
}

std::vector<ReportBlock> PhysicalCount::Blocks() const {
  std::vector<ReportBlock> blocks;
  blocks.push_back(ReportBlock::Paragraph("Physical Count", TextStyle::Title, true));
  blocks.push_back(ReportBlock::Paragraph(Heading(), TextStyle::Bold, true));
  blocks.push_back(ReportBlock::Paragraph(Summary(), TextStyle::Body, true, 1));
  const auto table = [&](const char* title, const std::vector<std::string>& headings,
                         std::vector<std::vector<std::string>> rows, bool defect) {
    blocks.push_back(ReportBlock::Paragraph(fmt::format("{} ({})", title, rows.size()),
                                            TextStyle::Heading, true));
    if (rows.empty()) {
      blocks.push_back(ReportBlock::Paragraph("None.", TextStyle::Body, false, 1));
      return;
    }
    ReportTable t;
    for (std::size_t c = 0; c < headings.size(); ++c)
      t.columns.push_back({headings[c], c >= 1 && c <= 3});
    for (auto& row : rows) t.rows.push_back({std::move(row), defect});
    blocks.push_back(ReportBlock::Table(std::move(t)));
  };
  table("Missing: in the book, not counted", kMissingHeadings, MissingRows(), true);
  table("Unexpected: counted, not in the book", kUnexpectedHeadings, UnexpectedRows(), true);
  table("Found", kFoundHeadings, FoundRows(), false);
  blocks.push_back(ReportBlock::Paragraph("Certification", TextStyle::Heading, true));
  blocks.push_back(ReportBlock::Paragraph(Certification(), TextStyle::Body, true));
  return blocks;
}

std::string PhysicalCount::Footer() const {
  return fmt::format("Physical count {} of {}{}", Sheet().head.number, Sheet().head.troop,
                     Sheet().head.district);
}

}  // namespace fm::shell

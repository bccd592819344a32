#include "shell/UsageImport.h"

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <system_error>

#include "base/Text.h"
#include "platform/DataSet.h"
#include "protocol/Messages.h"
#include "shell/SearchSummary.h"
#include "shell/ShellExchange.h"
#include "transport/RecordsetWire.h"

namespace fm::shell {

namespace {

// Read at a time: the file is never held twice while it is read.
constexpr std::size_t kReadBlock = std::size_t{64} * 1024;

std::string Counted(std::int64_t count, const char* one, const char* many) {
  return fmt::format("{} {}", GroupedNumber(count), count == 1 ? one : many);
}

}  // namespace

const std::array<const char*, UsageImport::kColumnCount> UsageImport::kColumns = {"Line", "What",
                                                                                  "Message"};

std::string ReadImportFile(const std::filesystem::path& path, std::uintmax_t limit,
                           ImportFile& file, const char* onServer) {
  file = {path.filename().string(), {}};
  const std::string shown = path.string();
  const auto tooLarge = [&](std::uintmax_t size) {
    return fmt::format(
        "The file {} is {} bytes, larger than the {} bytes the desktop imports; nothing was "
        "sent. Split it, or import it on the server ({}).",
        shown, GroupedNumber(static_cast<long long>(size)),
        GroupedNumber(static_cast<long long>(limit)), onServer);
  };
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    return fmt::format("The file {} cannot be read: {}; nothing was sent.", shown, error.message());
  }
  if (size > limit) return tooLarge(size);
  std::ifstream in(path, std::ios::binary);
  if (!in) return fmt::format("The file {} cannot be opened; nothing was sent.", shown);
  file.text.reserve(static_cast<std::size_t>(size));
  char block[kReadBlock];
  while (in.read(block, sizeof block) || in.gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    // A file that grows while it is read is refused as soon as it passes the limit.
    if (file.text.size() + got > limit) return tooLarge(file.text.size() + got);
    file.text.append(block, got);
  }
  if (in.bad())
    return fmt::format("The file {} could not be read to its end; nothing was sent.", shown);
  const std::size_t bad = text::InvalidUtf8At(file.text);
  if (bad < file.text.size()) {
    const auto line =
        1 + std::count(file.text.begin(), file.text.begin() + static_cast<long>(bad), '\n');
    return fmt::format(
        "The file {} is not UTF-8 text: byte {} (on line {}) is not; nothing was sent. Save it "
        "as UTF-8 and choose it again.",
        shown, bad + 1, line);
  }
  return {};
}

void SendUses(ShellExchange& exchange, protocol::DataSet uses, const char* name,
              const std::string& source, bool preview, UsageAnswer answer) {
  std::vector<std::pair<std::string, std::string>> criteria{{"SOURCE", source}};
  if (preview) criteria.emplace_back("PREVIEW", "Y");
  exchange.Send(
      protocol::kRecordUsageMessage, criteria,
      {protocol::kUsageDataSet, protocol::kUseProblemDataSet},
      [answer = std::move(answer)](const std::string& error, const ShellExchange::DataSets& sets) {
        if (!sets.contains(protocol::kUsageDataSet)) {
          answer(error, std::nullopt);
          return;
        }
        try {
          answer(error, protocol::UsageOutcomeFromDataSets(sets));
        } catch (const std::exception& e) {
          answer(fmt::format("The answer could not be read: {}", e.what()), std::nullopt);
        }
      },
      DataSet::Wrap(FromWireDataSet(std::move(uses))), name);
}

UsageImport::UsageImport(Changed changed, std::function<void()> recorded, Options options)
    : mChanged(std::move(changed)),
      mRecorded(std::move(recorded)),
      mOptions(options),
      mExchange(std::make_unique<ShellExchange>("UsageImport")) {}

UsageImport::~UsageImport() = default;

bool UsageImport::Waiting() const { return mExchange->Waiting(); }

void UsageImport::Say(std::string text, bool problem) {
  mStatus = {std::move(text), problem};
  if (mChanged) mChanged(Change::Status);
}

void UsageImport::Cancel() {
  mFile = {};
  mSource.clear();
  mOutcome = {};
  mHasOutcome = false;
  if (mChanged) mChanged(Change::Outcome);
  Say("Nothing was imported.", false);
}

void UsageImport::Preview(const std::filesystem::path& path, const std::string& source) {
  if (Waiting()) return;
  Cancel();
  if (path.empty()) {
    Say("Choose the file of uses to import.", true);
    return;
  }
  if (text::Trim(source).empty()) {
    Say("Type where the uses come from (the source), e.g. \"Court export, November\".", true);
    return;
  }
  if (std::string problem = ReadImportFile(path, mOptions.fileLimit, mFile); !problem.empty()) {
    mFile = {};
    Say(std::move(problem), true);
    return;
  }
  mSource = text::Trim(source);
  Send(true);
}

bool UsageImport::CanImport() const {
  return mHasOutcome && mOutcome.preview && mOutcome.badLineCount == 0 && !mOutcome.sameFileAgain &&
         mOutcome.recorded + mOutcome.conflictCount > 0 && !Waiting();
}

void UsageImport::Import() {
  if (CanImport()) Send(false);
}

void UsageImport::Send(bool preview) {
  protocol::DataSet file{
      {{"FILE_NAME", protocol::ColumnType::Text}, {"FILE_TEXT", protocol::ColumnType::Text}},
      {{mFile.name, mFile.text}}};
  SendUses(*mExchange, std::move(file), protocol::kUseFileDataSet, mSource, preview,
           [this](const std::string& error, const std::optional<protocol::UsageOutcome>& outcome) {
             if (!outcome) {
               Say(error, true);
               return;
             }
             mOutcome = *outcome;
             mHasOutcome = true;
             if (mChanged) mChanged(Change::Outcome);
             const bool stored = !mOutcome.preview && mOutcome.badLineCount == 0 &&
                                 mOutcome.recorded + mOutcome.conflictCount > 0;
             if (stored && mRecorded) mRecorded();
             Say(Summary(), mOutcome.badLineCount > 0);
           });
  if (Waiting()) {
    Say(preview ? fmt::format("Checking {}...", mFile.name)
                : fmt::format("Importing {}...", mFile.name),
        false);
  }
}

std::string UsageImport::Summary() const {
  const protocol::UsageOutcome& o = mOutcome;
  if (!mHasOutcome) return {};
  if (o.sameFileAgain) {
    return fmt::format(
        "This file was imported already (as {} at {} by {}): importing it again changes "
        "nothing.",
        o.previousFileName, o.previousRecordedAt, o.previousRecordedBy);
  }
  if (o.badLineCount > 0) {
    const auto listed = static_cast<std::int64_t>(o.badLines.size());
    return fmt::format(
        "{} of the {} are bad{}, so nothing can be imported: correct the file and choose it "
        "again.",
        Counted(o.badLineCount, "line", "lines"), Counted(o.lines, "line", "lines"),
        listed < o.badLineCount ? fmt::format(" (the first {} listed)", listed) : "");
  }
  const std::string counts =
      fmt::format("{} {}, {} already recorded, {} kept apart", Counted(o.recorded, "use", "uses"),
                  o.preview ? "to record" : "recorded", GroupedNumber(o.alreadyRecorded),
                  Counted(o.conflictCount, "conflict", "conflicts"));
  if (!o.preview) return fmt::format("Imported {}: {}.", Counted(o.lines, "line", "lines"), counts);
  if (o.recorded + o.conflictCount == 0) {
    return fmt::format("{}: every use is recorded already; importing changes nothing.",
                       Counted(o.lines, "line", "lines"));
  }
  return fmt::format("{}: {}. Import to record them, or Cancel.", Counted(o.lines, "line", "lines"),
                     counts);
}

std::vector<UsageImport::Row> UsageImport::Rows() const {
  std::vector<Row> rows;
  for (const auto& bad : mOutcome.badLines) {
    rows.push_back({std::to_string(bad.line), "Bad line", bad.message});
  }
  for (const auto& conflict : mOutcome.conflicts) {
    rows.push_back({std::to_string(conflict.line), "Conflict", conflict.message});
  }
  return rows;
}

}  // namespace fm::shell

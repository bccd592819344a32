#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Count.h"
#include "shell/LocalCodes.h"
#include "shell/ReportLayout.h"
#include "shell/WindowModel.h"

namespace fm {
class DataSet;
}

namespace fm::shell {

class ShellExchange;

// Tools > Physical Count... without its window (docs/counts.md): the counts of a station
// (message type 42), a count opened for a station and form types (44) or picked from them
// (43), counted numbers entered as a span or imported from a file (45: one number a line, or
// CSV "form type,from[,to]"), and the count certified with a statement (46). Every answer is
// the count as it stands: its book, and the result as found, missing and unexpected with the
// reason. What the server refuses is said as it words it; a wrong entry is said in the
// status line and nothing is sent. Printed through ReportLayout with its certification.
//
// `changed` runs after every change the window shows: Change::Counts a new list,
// Change::Sheet a new count.
class PhysicalCount {
 public:
  enum class Change { Status, Counts, Sheet };
  using Changed = std::function<void(Change)>;

  struct Options {
    // The largest file of counted numbers the desktop sends, in bytes: it travels whole in
    // one request, and over HTTP a server takes at most its --body-limit (8 MiB by default)
    // of it written as JSON. Larger files are imported on the server (formsmaint-server
    // count import).
    std::uintmax_t fileLimit = std::uintmax_t{6} * 1024 * 1024;
  };

  static constexpr const char* kTitle = "Physical Count";
  // The server's limit of a statement (docs/counts.md), said before anything is sent.
  static constexpr std::size_t kMaxStatementLength = 2000;
  static const std::vector<std::string> kFoundHeadings;       // form type, from, to, forms, holder
  static const std::vector<std::string> kMissingHeadings;     // the same, and its settlement
  static const std::vector<std::string> kUnexpectedHeadings;  // ..., forms, reason, held now

  PhysicalCount(TimeText timeText, Changed changed, Options options);
  PhysicalCount(TimeText timeText, Changed changed)
      : PhysicalCount(std::move(timeText), std::move(changed), Options()) {}
  ~PhysicalCount();

  // The form types to count (code, description), by description.
  const CodeEntries& FormTypes() const { return mFormTypes; }

  // Asks for the counts of `station` ("A1"; "A": the troop's own stock), newest last.
  void ListCounts(const std::string& station);
  // Opens a count of `station` and the form types at `formTypes` in FormTypes().
  void Open(const std::string& station, const std::vector<int>& formTypes);
  // Asks for the count at `index` in Counts().
  void Pick(int index);
  // Enters the numbers from..to (to empty: from alone) of the form type at `formType` in
  // FormTypes() (-1: the count's only one) into the count shown.
  void EnterSpan(int formType, const std::string& from, const std::string& to);
  // Sends the counted numbers of the file at `path` into the count shown.
  void ImportFile(const std::filesystem::path& path);
  // Certifies the count shown with `statement` (required).
  void Certify(const std::string& statement);
  bool Waiting() const;

  const std::vector<protocol::CountHead>& Counts() const { return mCounts; }
  // One line per count of the list: "3: ENF001 Citation, opened 12/1/2026 9:00 AM by Avery
  // Auditor; certified 12/1/2026 11:00 AM by Avery Auditor" ("; open" while it is).
  std::vector<std::string> CountChoices() const;

  bool HasSheet() const { return mSheet.has_value(); }
  const protocol::CountSheet& Sheet() const;
  // Whether numbers may be entered and the count certified: one is shown, not certified.
  bool CanChange() const { return HasSheet() && !Sheet().head.Certified(); }
  // "Physical count 3 of A1: ENF001 Citation, opened 12/1/2026 9:00 AM by Avery Auditor".
  std::string Heading() const;
  // "Book: 1,000 forms in 10 spans. Found 900, missing 100, unexpected 1."
  std::string Summary() const;
  // "Certified by Avery Auditor at ...: <statement>", or that it is not certified yet.
  std::string Certification() const;
  std::vector<std::vector<std::string>> FoundRows() const;
  std::vector<std::vector<std::string>> MissingRows() const;
  std::vector<std::vector<std::string>> UnexpectedRows() const;

  // "physical-count-3.pdf".
  std::string SuggestedFileName(const char* extension) const;
  std::vector<ReportBlock> Blocks() const;
  std::string Footer() const;

  const StatusLine& Status() const { return mStatus; }
  void Say(std::string text, bool problem);

 private:
  void SendSheet(int messageType, const std::vector<std::pair<std::string, std::string>>& criteria,
                 std::shared_ptr<DataSet> rows, const char* rowsName, std::string busy);
  void ShowSheet(protocol::CountSheet sheet, int messageType);
  std::vector<std::pair<std::string, std::string>> ShownCount() const;
  std::string Described(const std::string& code) const;
  std::string Time(const std::string& utc) const;

  TimeText mTimeText;
  Changed mChanged;
  Options mOptions;
  CodeEntries mFormTypes;
  std::unique_ptr<ShellExchange> mExchange;
  std::string mStation;  // of the list shown
  std::vector<protocol::CountHead> mCounts;
  std::optional<protocol::CountSheet> mSheet;
  StatusLine mStatus;
};

}  // namespace fm::shell

#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/Count.h"
#include "protocol/Custody.h"
#include "protocol/Usage.h"
#include "shell/LocalCodes.h"
#include "shell/WindowModel.h"

namespace fm::shell {

class ShellExchange;

// Tools > Form History without its window: the chain of custody of one form.
//
// The clerk gives a form type (one of the local code table's) and a form number, and the
// request goes to the forms server (message type 35, through the message component, so that
// it works with the embedded inventory and with a server). The answer lists every change
// that touched the form, oldest first, with who holds the form now; the rows are what the
// window shows and what its CSV export writes (RFC 4180, UTF-8).
//
// `changed` runs after every change the window shows: the status line, a request sent or
// answered, and with Change::History a new history.
class FormHistory {
 public:
  enum class Change { Status, History };
  using Changed = std::function<void(Change)>;

  static constexpr const char* kTitle = "Form History";
  static constexpr std::size_t kColumnCount = 11;
  using Row = std::array<std::string, kColumnCount>;
  static const std::array<const char*, kColumnCount> kColumns;

  FormHistory(TimeText timeText, Changed changed);
  ~FormHistory();

  // The form types to choose from (code, description), by description.
  const CodeEntries& FormTypes() const { return mFormTypes; }
  // Asks for the history of the form `number` (as typed, blanks around it allowed) of the
  // form type at `formType` in FormTypes(); a wrong entry is said in the status line and
  // nothing is sent.
  void Request(int formType, const std::string& number);
  bool Waiting() const;

  const protocol::FormHistory& History() const { return mHistory; }
  // The form's use records, superseded ones included, oldest first; the rows the window
  // shows of them (the day, disposition, officer, reference, note, where from, who recorded
  // it and when, whether it stands).
  static constexpr std::size_t kUseColumnCount = 8;
  using UseRow = std::array<std::string, kUseColumnCount>;
  static const std::array<const char*, kUseColumnCount> kUseColumns;
  const std::vector<protocol::FormUse>& Uses() const { return mUses; }
  std::vector<UseRow> UseRows() const;
  // The certified physical counts that reached the form, each with what it found of the
  // number and its settlement: the count, its station, when and by whom it was certified,
  // "found", "missing" or why it was unexpected, and "lost" or "found later".
  static constexpr std::size_t kCountColumnCount = 6;
  using CountRow = std::array<std::string, kCountColumnCount>;
  static const std::array<const char*, kCountColumnCount> kCountColumns;
  const std::vector<protocol::FormCount>& Counts() const { return mCounts; }
  std::vector<CountRow> CountRows() const;
  // Whether a history was answered (there is something to export).
  bool HasHistory() const { return mHasHistory; }
  std::vector<Row> Rows() const;
  const StatusLine& Status() const { return mStatus; }

  // "form-history-C-1100042.csv".
  std::string SuggestedFileName() const;
  // The rows as shown to `path`; a file that cannot be written is said in a message box.
  void ExportToCsv(const std::string& path);

 private:
  void Say(std::string text, bool problem);
  void Show(const protocol::FormHistory& history, std::vector<protocol::FormUse> uses,
            std::vector<protocol::FormCount> counts);

  TimeText mTimeText;
  Changed mChanged;
  CodeEntries mFormTypes;
  std::unique_ptr<ShellExchange> mExchange;
  protocol::FormHistory mHistory;
  std::vector<protocol::FormUse> mUses;
  std::vector<protocol::FormCount> mCounts;
  bool mHasHistory = false;
  StatusLine mStatus;
};

}  // namespace fm::shell

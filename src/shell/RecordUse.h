#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocol/Usage.h"
#include "shell/WindowModel.h"

namespace fm::shell {

class ShellExchange;

// The range a use is recorded in: the one selected in the Forms Assignment grid.
struct UseRange {
  std::string formType;  // the code
  std::string description;
  std::int64_t from = 0;
  std::int64_t to = 0;
  std::int64_t registry = 0;  // the officer holding it; 0: the station's stock
};

// What the clerk typed, blanks around each entry taken off by the model.
struct UseEntries {
  std::string from;  // the number, or the first of a span
  std::string to;    // the last of a span; empty: the one number
  protocol::Disposition disposition = protocol::Disposition::Issued;
  std::string usedOn;  // YYYY-MM-DD; empty when the clerk's entry is not a date
  std::string officer;
  std::string reference;
  std::string note;
  std::string source;  // who handed the forms back, or where the use was learnt
};

// Which entries a disposition needs besides the number and the day (docs/usage.md).
struct RequiredEntries {
  bool officer = false;
  bool reference = false;
  bool note = false;
};
RequiredEntries RequiredFor(protocol::Disposition disposition);

// "Record Use..." without its window: the use of a number, or of a span of numbers, of the
// selected range, sent to the forms server (message type 37, a person's record) and the
// outcome said: recorded, already recorded, a conflict kept apart, or what is wrong.
//
// `changed` runs after every change of the status line; `recorded` after a use was stored,
// so that the shell runs its search again and the remaining count it shows follows.
class RecordUse {
 public:
  using Changed = std::function<void()>;
  static constexpr const char* kTitle = "Record Use";
  static constexpr const char* kDefaultSource = "Handed back at the desk";

  // `today` answers the local day, YYYY-MM-DD: a use is never dated later.
  RecordUse(UseRange range, std::function<std::string()> today, Changed changed,
            std::function<void()> recorded);
  ~RecordUse();

  const UseRange& Range() const { return mRange; }
  // Checks the entries against the range and the disposition's needs, then sends them; a
  // wrong entry is said in the status line and nothing is sent.
  void Record(const UseEntries& entries);
  bool Waiting() const;
  const StatusLine& Status() const { return mStatus; }

 private:
  void Say(std::string text, bool problem);

  UseRange mRange;
  std::function<std::string()> mToday;
  Changed mChanged;
  std::function<void()> mRecorded;
  std::unique_ptr<ShellExchange> mExchange;
  StatusLine mStatus;
};

}  // namespace fm::shell

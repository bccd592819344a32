#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "document/TARVO_FormsMaint.h"
#include "protocol/Messages.h"

namespace fm::shell {

class ShellExchange;

// "Reassign all ranges of this trooper..." of the troopers grid: a trooper's ranges in use
// go to another trooper of the same Troop/District (a transfer, a leave) in one save.
//
// The ranges are those a fresh search finds: held by the trooper's station, assigned to
// the trooper, in status "A". After the clerk confirms the count, one save (message type 34)
// replaces each of them ("UPD") with the other trooper as holder, the version the search
// answered and a comment saying so (stamped as the screen stamps comments); the server
// applies all of them or none: a range changed since the search refuses the whole save,
// which the clerk is told. Every range gets its audit entry. Then `refresh` runs, so that
// the screen can show the new state.
//
// Messages go through the desktop's message boxes (Services::Ui()).
class TrooperReassignment {
 public:
  using Trooper = TARVO_FormsMaint::Trooper;
  // The title of its message boxes and of the list to choose from.
  static constexpr const char* kTitle = "Reassign Trooper's Ranges";
  // Picks the trooper who takes the ranges; none: cancelled.
  using Chooser = std::function<std::optional<std::int64_t>(
      const Trooper& from, const std::vector<Trooper>& candidates)>;
  // Replaces the chooser of every reassignment (none: each asks with its own), so that a
  // test of the whole desktop can answer for the clerk.
  static void SetChooser(Chooser chooser);

  TrooperReassignment(Chooser ask, std::function<void()> refresh);
  ~TrooperReassignment();

  // Every trooper of `listed` other than `from` at the same Troop/District.
  static std::vector<Trooper> Colleagues(const std::vector<Trooper>& listed, const Trooper& from);

  // Asks for the trooper taking over, then searches, confirms and saves.
  void Start(const Trooper& from, const std::vector<Trooper>& candidates);
  bool Waiting() const;

 private:
  using Criteria = std::vector<std::pair<std::string, std::string>>;
  void Confirm(const Trooper& from, const Trooper& to, const Criteria& criteria,
               const protocol::DataSet& found);

  Chooser mAsk;
  std::function<void()> mRefresh;
  std::unique_ptr<ShellExchange> mExchange;
};

}  // namespace fm::shell

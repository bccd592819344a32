#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/Messages.h"

class QWidget;

namespace fm {
class DataGrid;
}

namespace fm::qt {

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
  struct Trooper {
    std::int64_t registry = 0;
    std::string name;  // as the troopers grid shows it
    std::string troop;
    std::string district;
  };
  // Picks the trooper who takes the ranges; none: cancelled. The default asks with a list.
  using Chooser = std::function<std::optional<std::int64_t>(
      QWidget* parent, const Trooper& from, const std::vector<Trooper>& candidates)>;
  static void SetChooser(Chooser chooser);

  TrooperReassignment(QWidget& parent, std::function<void()> refresh);
  ~TrooperReassignment();

  // The trooper of the grid's selected (else current) row; none without one.
  static std::optional<Trooper> SelectedTrooper(const DataGrid& troopers);
  // Every other trooper of the grid at the same Troop/District.
  static std::vector<Trooper> Colleagues(const DataGrid& troopers, const Trooper& from);

  // Asks for the trooper taking over, then searches, confirms and saves.
  void Start(const Trooper& from, const std::vector<Trooper>& candidates);
  bool Waiting() const;

 private:
  using Criteria = std::vector<std::pair<std::string, std::string>>;
  void Confirm(const Trooper& from, const Trooper& to, const Criteria& criteria,
               const protocol::DataSet& found);

  QWidget& mParent;
  std::function<void()> mRefresh;
  std::unique_ptr<ShellExchange> mExchange;
};

}  // namespace fm::qt

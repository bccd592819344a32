#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controls/Control.h"
#include "controls/Signal.h"

namespace fm {

class LocalDatabase;

// The toolbox's officer picker: lists the officers of the installation's region from the
// officer table MVE061TB, narrowed by a filter text, and reports each officer the user
// chooses.
//
// Start() reads the officers again (local database: SetDatabase, else
// Services::Database(); region from Services::Settings(), trimmed and upper-cased), sorted
// by last name, first name and registry number, and clears the filter and the choice.
// Officers whose duty ended before today are not offered: no range can go to them. Before
// the first Start the list is empty.
//
// Filter: the text is cut into words at blanks and commas; an officer is listed when every
// word, letter case ignored, begins one of the parts of the officer's last, first or middle
// name, or begins the registry number. The empty filter lists everyone.
//
// Choose(index in the listed officers) makes that officer the chosen one and raises
// OfficerSelected with the officer's display text, every time, even for the same officer
// again; the handler reads RegistryNumber(), LastName(), FirstName() and MiddleInitial().
// They are empty texts while no officer is chosen.
//
// Errors: a database failure throws PlatformError with the database's words and leaves the
// list as it was; an index out of range throws PlatformError naming the picker.
class OfficerSelect final : public Control {
 public:
  struct Officer {
    std::string registryNumber;  // as stored (the registry's INSP_ID as text)
    std::string lastName;
    std::string firstName;
    std::string middleInitial;
    std::string dutyStation;  // troop followed by district, e.g. "A4"; empty when unknown
    // "1001  HARTLEY, MARGARET A  (A4)": what the list shows and OfficerSelected passes.
    std::string DisplayText() const;
  };

  explicit OfficerSelect(const Site& site) : Control(site) {}

  ControlKind Kind() const override { return ControlKind::OfficerSelect; }
  bool CanFocus() const override { return true; }

  void SetDatabase(std::shared_ptr<LocalDatabase> database);

  void Start();

  const std::string& FilterText() const { return mFilter; }
  void SetFilterText(std::string filter);
  // The officers the filter lets through, in list order.
  int OfficerCount() const { return static_cast<int>(mListed.size()); }
  const Officer& OfficerAt(int index) const;
  // Every officer read by the last Start.
  int TotalOfficerCount() const { return static_cast<int>(mOfficers.size()); }

  // The user chooses the officer at `index` of the listed officers; ignored (false) when
  // the picker cannot be used.
  bool Choose(int index);
  bool HasChoice() const { return mChosen.has_value(); }
  std::string RegistryNumber() const;
  std::string LastName() const;
  std::string FirstName() const;
  std::string MiddleInitial() const;

  Signal<const std::string&> OfficerSelected;

 private:
  void ApplyFilter();
  bool Matches(const Officer& officer, const std::vector<std::string>& words) const;

  std::shared_ptr<LocalDatabase> mDatabase;
  std::vector<Officer> mOfficers;
  std::vector<int> mListed;  // indices into mOfficers
  std::string mFilter;
  std::optional<Officer> mChosen;
};

}  // namespace fm

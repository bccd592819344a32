#pragma once

#include <memory>
#include <string>

#include "controls/Form.h"
#include "controls/Resizer.h"
#include "controls/Signal.h"
#include "platform/Recordset.h"

namespace fm {

class CommandButton;
class DataControl;
class DataGrid;
class DataSet;
class OfficerSelect;

// The Add Troopers dialog: the user picks troopers one at a time with the officer picker;
// they collect in the "Added Troopers" grid (an "OFFICER" data set made when the dialog
// loads). A trooper already picked, or already in the document's officer list, is refused
// with a beep.
//
// Use (the document does this for each click of "Add Troopers"): create, connect SendOK,
// LoadForm, SetOfficerList, start the picker, ShowModal. OK raises SendOK with the added
// troopers and hides the dialog; Cancel raises SendCancel and unloads it. Unloading
// releases both data sets.
//
// Ownership: the officer list is the document's, only read here (through clones, so the
// document's grid keeps its current row). The added-troopers data set is the dialog's;
// SendOK hands out a shared reference to it.
//
// Errors: every procedure runs under the error trap ("frmAddOfficer.<name>"); a failure is
// reported and ends the procedure, and IsNewOfficer then answers false (a refused pick).
class frmAddOfficer final : public Form {
 public:
  frmAddOfficer();
  ~frmAddOfficer() override;

  // --- Interface used by the document
  // The document's officer list (may be nullptr); read only.
  void SetOfficerList(std::shared_ptr<DataSet> officerList);
  frmAddOfficer& This() { return *this; }
  // The troopers picked so far; nullptr before load and after unload.
  std::shared_ptr<DataSet> AddedOfficers() const { return mAddedOfficers; }

  Signal<std::shared_ptr<DataSet>> SendOK;
  Signal<> SendCancel;

  // --- Controls
  OfficerSelect& qmOfficerSelect;
  DataControl& adoAddOfficers;
  DataGrid& grdAddOfficers;
  CommandButton& cmdClear;
  CommandButton& cmdOK;
  CommandButton& cmdCancel;
  Resizer& rszResizer;

  // --- Event handlers (connected to the controls; tests may call them directly)
  void Form_Load();
  void Form_Activate();
  void Form_Unload(int& cancel);
  void qmOfficerSelect_OfficerSelected(const std::string& officer);
  void grdAddOfficers_RowLoaded(Recordset::Bookmark bookmark);
  void cmdClear_Click();
  void cmdOK_Click();
  void cmdCancel_Click();
  void rszResizer_BeforeResize(Control& control, Resizer::Settings& settings);

  // --- Steps
  // True unless the picker's officer is already among the added troopers or in the
  // officer list.
  bool IsNewOfficer();
  void RefreshAddOfficersGrid();
  void SetGridBolding(DataGrid& grid);

 private:
  void CreateControls();
  void ConnectEvents();

  std::shared_ptr<DataSet> mOfficerList;
  std::shared_ptr<DataSet> mAddedOfficers;
};

}  // namespace fm

// The Add Troopers dialog: the officer picker, the grid of picked troopers and its buttons.

#include "dutystation/frmAddOfficer.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>

#include "base/Text.h"
#include "common/FormsMaintBas.h"
#include "common/ScreenNumbers.h"
#include "controls/CommandButton.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/GridStyleSet.h"
#include "controls/OfficerSelect.h"
#include "platform/CommonUtility.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr int kButtonHeight = 375;
constexpr int kPickerTop = 120;
constexpr int kPickerHeight = 2880;
constexpr int kGridTop = kPickerTop + kPickerHeight + 120;
constexpr int kGridHeight = 2760;
constexpr int kButtonsTop = kGridTop + kGridHeight + 120;
constexpr int kWidth = 8760;

// The registry number as the officer list's numeric column compares it: its numeric value
// written plainly, so that "0001001" and "1001 " both look for 1001.
std::string PlainNumber(const std::string& registry) {
  const double value = LeadingNumber(registry);
  if (std::trunc(value) == value && std::fabs(value) < 9.0e15) {
    return fmt::format("{}", static_cast<std::int64_t>(value));
  }
  return fmt::format("{}", value);
}

}  // namespace

frmAddOfficer::frmAddOfficer()
    : Form("frmAddOfficer", "Select Troopers to be Added"),
      qmOfficerSelect(Add<OfficerSelect>("qmOfficerSelect")),
      adoAddOfficers(Add<DataControl>("adoAddOfficers")),
      grdAddOfficers(Add<DataGrid>("grdAddOfficers")),
      cmdClear(Add<CommandButton>("cmdClear")),
      cmdOK(Add<CommandButton>("cmdOK")),
      cmdCancel(Add<CommandButton>("cmdCancel")),
      rszResizer(Add<Resizer>("rszResizer")) {
  CreateControls();
  ConnectEvents();
}

frmAddOfficer::~frmAddOfficer() = default;

void frmAddOfficer::CreateControls() {
  SetClientSize(kWidth + 240, kButtonsTop + kButtonHeight + 120);

  qmOfficerSelect.Move(120, kPickerTop, kWidth, kPickerHeight);
  adoAddOfficers.SetCaption("adoAddOfficers");
  adoAddOfficers.SetVisible(false);  // binds the grid; the clerk never works it

  grdAddOfficers.SetCaption("Added Troopers");
  grdAddOfficers.Move(120, kGridTop, kWidth, kGridHeight);
  // The name parts show once, in display form, in the Name column.
  grdAddOfficers.AddColumn("Registry#", "INSP_ID", "INSP_ID", true, 1400);
  grdAddOfficers.AddColumn("INSP_NME_LST", "INSP_NME_LST", "INSP_NME_LST", false, 2000);
  grdAddOfficers.AddColumn("INSP_NME_FRST", "INSP_NME_FRST", "INSP_NME_FRST", false, 2000);
  grdAddOfficers.AddColumn("INSP_NME_MDL_INT", "INSP_NME_MDL_INT", "INSP_NME_MDL_INT", false, 600);
  grdAddOfficers.AddColumn("Name", "Propername", "", true, 5000);
  grdAddOfficers.AddColumn("ACTION", "ACTION", "ACTION", false, 1000);
  grdAddOfficers.SetDataSource(&adoAddOfficers);

  cmdClear.SetCaption("Clear Added Troopers");
  cmdClear.Move(120, kButtonsTop, 2200, kButtonHeight);
  cmdOK.SetCaption("OK");
  cmdOK.Move(120 + kWidth - 2520, kButtonsTop, 1200, kButtonHeight);
  cmdCancel.SetCaption("Cancel");
  cmdCancel.Move(120 + kWidth - 1200, kButtonsTop, 1200, kButtonHeight);
  cmdCancel.SetCancel(true);

  int tab = 0;
  for (Control* control : std::initializer_list<Control*>{&qmOfficerSelect, &grdAddOfficers,
                                                          &cmdClear, &cmdOK, &cmdCancel}) {
    control->SetTabIndex(tab++);
  }
}

void frmAddOfficer::ConnectEvents() {
  Load.Connect([this] { Form_Load(); });
  Activate.Connect([this] { Form_Activate(); });
  Unload.Connect([this](int& cancel) { Form_Unload(cancel); });
  qmOfficerSelect.OfficerSelected.Connect(
      [this](const std::string& officer) { qmOfficerSelect_OfficerSelected(officer); });
  grdAddOfficers.RowLoaded.Connect(
      [this](Recordset::Bookmark bookmark) { grdAddOfficers_RowLoaded(bookmark); });
  cmdClear.Click.Connect([this] { cmdClear_Click(); });
  cmdOK.Click.Connect([this] { cmdOK_Click(); });
  cmdCancel.Click.Connect([this] { cmdCancel_Click(); });
  rszResizer.BeforeResize.Connect([this](Control& control, Resizer::Settings& settings) {
    rszResizer_BeforeResize(control, settings);
  });
}

void frmAddOfficer::SetOfficerList(std::shared_ptr<DataSet> officerList) {
  mOfficerList = std::move(officerList);
}

void frmAddOfficer::Form_Load() {
  Trap("frmAddOfficer.Form_Load", [&] {
    auto added = std::make_shared<DataSet>();
    added->SetSource("OFFICER");
    added->Open();
    mAddedOfficers = added;
    RefreshAddOfficersGrid();
    Services::Utility().ClearMark(grdAddOfficers);
    SetGridBolding(grdAddOfficers);
    qmOfficerSelect.Start();
  });
}

void frmAddOfficer::Form_Activate() {
  // Officers may have come on duty since the dialog was last active.
  Trap("frmAddOfficer.Form_Activate", [&] { qmOfficerSelect.Start(); });
}

void frmAddOfficer::Form_Unload(int& /*cancel*/) {
  // Each click of "Add Troopers" makes its own dialog, so there is no shared default
  // instance to forget; only the data is let go.
  Trap("frmAddOfficer.Form_Unload", [&] {
    mOfficerList.reset();
    mAddedOfficers.reset();
    adoAddOfficers.SetRecordset(nullptr);
  });
}

void frmAddOfficer::RefreshAddOfficersGrid() {
  Trap("frmAddOfficer.RefreshAddOfficersGrid", [&] {
    grdAddOfficers.SetRedraw(false);
    adoAddOfficers.SetRecordset(mAddedOfficers ? mAddedOfficers->RecordsetPtr() : nullptr);
    grdAddOfficers.SetRedraw(true);
    grdAddOfficers.Refresh();
  });
}

void frmAddOfficer::SetGridBolding(DataGrid& grid) {
  Trap("frmAddOfficer.SetGridBolding", [&] {
    // Cells and headings in the regular weight; only the grid's caption keeps the bold
    // font.
    grid.StyleSet("UNBOLD").SetBold(false);
    grid.SetFontBold(true);
    for (int i = 0; i < grid.ColumnCount(); ++i) {
      grid.Column(i).SetStyleSet("UNBOLD");
      grid.Column(i).SetHeadStyleSet("UNBOLD");
    }
  });
}

void frmAddOfficer::grdAddOfficers_RowLoaded(Recordset::Bookmark bookmark) {
  Trap("frmAddOfficer.grdAddOfficers_RowLoaded", [&] {
    DataGrid& grid = grdAddOfficers;
    if (grid.RowCount() < 1) return;
    const std::string last = text::Trim(grid.BoundText(bookmark, "INSP_NME_LST"));
    const std::string first = text::Trim(grid.BoundText(bookmark, "INSP_NME_FRST"));
    const std::string middle = text::Trim(grid.BoundText(bookmark, "INSP_NME_MDL_INT"));
    grid.SetCell(bookmark, "Propername", ProperName(last, first, middle, ""));
  });
}

bool frmAddOfficer::IsNewOfficer() {
  bool isNew = false;
  Trap("frmAddOfficer.IsNewOfficer", [&] {
    const std::string registry = qmOfficerSelect.RegistryNumber();
    // Searched through clones: neither grid's current row moves under the clerk.
    if (mAddedOfficers && mAddedOfficers->RecordCount() > 0) {
      auto added = mAddedOfficers->GetRecordset().Clone();
      if (added->Find("INSP_ID = " + registry)) return;  // picked before
    }
    if (mOfficerList && mOfficerList->IsOpen() && mOfficerList->RecordCount() > 0) {
      auto listed = mOfficerList->GetRecordset().Clone();
      isNew = !listed->Find("INSP_ID = " + PlainNumber(registry));
      return;
    }
    isNew = true;
  });
  return isNew;
}

void frmAddOfficer::qmOfficerSelect_OfficerSelected(const std::string& /*officer*/) {
  Trap("frmAddOfficer.qmOfficerSelect_OfficerSelected", [&] {
    if (!IsNewOfficer()) {
      Services::Ui().Beep();
      return;
    }
    Recordset& added = mAddedOfficers->GetRecordset();
    added.AddNew();
    added.SetValue("INSP_ID", qmOfficerSelect.RegistryNumber());
    added.SetValue("INSP_NME_LST", qmOfficerSelect.LastName());
    added.SetValue("INSP_NME_FRST", qmOfficerSelect.FirstName());
    added.SetValue("INSP_NME_MDL_INT", qmOfficerSelect.MiddleInitial());
    added.Update();
    RefreshAddOfficersGrid();
  });
}

void frmAddOfficer::cmdClear_Click() {
  Trap("frmAddOfficer.cmdClear_Click", [&] {
    if (!mAddedOfficers || mAddedOfficers->RecordCount() < 1) return;
    Recordset& added = mAddedOfficers->GetRecordset();
    if (grdAddOfficers.SelectedCount() == 0) {
      added.MoveFirst();
      while (!added.IsEOF()) {
        added.Delete();
        added.MoveNext();
      }
    } else {
      // One row, the current one, however many are selected.
      added.Delete();
      grdAddOfficers.ClearSelection();
    }
    RefreshAddOfficersGrid();
  });
}

void frmAddOfficer::cmdOK_Click() {
  Trap("frmAddOfficer.cmdOK_Click", [&] {
    SendOK.Emit(mAddedOfficers);
    Hide();
  });
}

void frmAddOfficer::cmdCancel_Click() {
  Trap("frmAddOfficer.cmdCancel_Click", [&] {
    SendCancel.Emit();
    UnloadForm();
  });
}

void frmAddOfficer::rszResizer_BeforeResize(Control& control, Resizer::Settings& settings) {
  Trap("frmAddOfficer.rszResizer_BeforeResize", [&] {
    // The picker and the grid take the new room; the buttons keep their size so that
    // their captions stay readable.
    if (control.Kind() == ControlKind::CommandButton) {
      settings.resizeWidth = false;
      settings.resizeHeight = false;
    }
  });
}

}  // namespace fm

// The Assign / Change Status dialog: its design, set-up from the document's parameter text,
// the delisting reasons, key handling, validation and the Save and Close buttons. The
// splitting of the range into change rows is in RangeSplitting.cpp.

#include "assignment/frmUnAssignForms.h"

#include <fmt/format.h>

#include <string>
#include <vector>

#include "assignment/FormNumbers.h"
#include "base/Text.h"
#include "common/CommentStamp.h"
#include "common/FormsMaintBas.h"
#include "common/MessageTitle.h"
#include "common/ParameterText.h"
#include "controls/ComboBox.h"
#include "controls/CommandButton.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/TextBox.h"
#include "platform/CommonUtility.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr int kBoxHeight = 288;
constexpr int kLabelHeight = 255;
constexpr int kShortLabelHeight = 195;
constexpr std::size_t kParameterCount = 14;
constexpr int kPeriod = '.';

struct LabelDesign {
  int index;
  int frame;
  const char* caption;
  int left;
  int top;
  int width;
  int height;
};

struct BoxDesign {
  int index;
  int frame;
  int left;
  int top;
  int width;
  int height;
};

// Positions in twips, relative to the frame that holds the control.
constexpr LabelDesign kLabels[] = {
    {0, 0, "From Range:", 135, 405, 975, kLabelHeight},
    {1, 0, "To Range:", 2320, 408, 820, kLabelHeight},
    {2, 0, "Assigned To:", 4380, 405, 990, kLabelHeight},
    {11, 0, "Qtr Year:", 420, 720, 700, kLabelHeight},
    {12, 0, "Year:", 2713, 720, 440, kLabelHeight},
    {3, 1, "From Range:", 135, 360, 975, kLabelHeight},
    {4, 1, "To Range:", 2320, 360, 820, kLabelHeight},
    {5, 1, "Status:", 4825, 360, 550, kLabelHeight},
    {7, 1, "Assign to Officer:", 135, 840, 1290, kShortLabelHeight},
    {8, 1, "", 1450, 855, 1560, kShortLabelHeight},
    {9, 1, "Assign to Registry #:", 3870, 855, 1560, kShortLabelHeight},
    {10, 1, "", 5445, 855, 2100, kShortLabelHeight},
    {6, 1, "Comments:", 240, 1350, 880, kLabelHeight},
};

constexpr BoxDesign kBoxes[] = {
    {0, 0, 1142, 360, 1092, kBoxHeight}, {1, 0, 3174, 360, 1092, kBoxHeight},
    {2, 0, 5400, 360, 2172, kBoxHeight}, {6, 0, 1142, 720, 1092, kBoxHeight},
    {7, 0, 3174, 720, 1092, kBoxHeight}, {3, 1, 1142, 312, 1092, kBoxHeight},
    {4, 1, 3174, 360, 1092, kBoxHeight}, {5, 1, 1142, 1305, 6432, 888},
};

// The code-table text both delisting look-ups start from: the region's reasons in force
// today.
std::string DelistingSqlBase(const char* column, const std::string& region) {
  return std::string(" SELECT ") + "    " + column + " " + " FROM " + "    RVO_CODE " + " WHERE " +
         "    REGION = '" + region + "' " + "    AND " + "    (EFCTV_DT <= date()) " + "    AND " +
         "    ( (END_DT >= date()) or (END_DT Is Null) )" + "    AND " +
         "    (CD_TBL_ID = 'DELISTCD') ";
}

std::string Region() { return text::ToUpper(text::Trim(Services::Settings().Region())); }

}  // namespace

frmUnAssignForms::frmUnAssignForms()
    : Form("frmUnAssignForms", "Unassign Forms"),
      cboStatus(CreateControls()),
      cmdOk(Add<CommandButton>("cmdOk")),
      cmdCancel(Add<CommandButton>("cmdCancel")) {
  cmdOk.SetCaption("Save");
  cmdOk.Move(5280, 4065, 1100, 375);
  cmdCancel.SetCaption("Close");
  cmdCancel.Move(6714, 4065, 1100, 375);
  cmdCancel.SetCancel(true);

  // The clerk works in the entry frame first; the selected row's boxes come last.
  Control* const tabOrder[] = {&txtBox(3), &txtBox(4), &cboStatus, &txtBox(5),
                               &cmdOk,     &cmdCancel, &txtBox(0), &txtBox(1),
                               &txtBox(2), &txtBox(6), &txtBox(7)};
  int tabIndex = 0;
  for (Control* control : tabOrder) control->SetTabIndex(tabIndex++);
  ConnectEvents();
}

frmUnAssignForms::~frmUnAssignForms() = default;

ComboBox& frmUnAssignForms::CreateControls() {
  SetClientSize(8220, 4695);

  Frame& rowSelected = fraForm.Create(*this, 0);
  rowSelected.SetCaption("Row Selected");
  rowSelected.Move(135, 180, 7950, 1095);
  Frame& entry = fraForm.Create(*this, 1);
  entry.SetCaption("Accounts to Unassign");
  entry.Move(135, 1395, 7905, 2550);

  for (const LabelDesign& design : kLabels) {
    Label& label = lblForm.Create(*this, design.index, &fraForm(design.frame));
    label.SetCaption(design.caption);
    label.Move(design.left, design.top, design.width, design.height);
  }
  for (const BoxDesign& design : kBoxes) {
    TextBox& box = txtBox.Create(*this, design.index, &fraForm(design.frame));
    box.Move(design.left, design.top, design.width, design.height);
    // The selected row is shown, not edited: the clerk narrows it in the entry frame.
    box.SetLocked(design.frame == 0);
  }
  txtBox(3).SetMaxLength(10);
  txtBox(4).SetMaxLength(10);
  txtBox(5).SetMaxLength(254);
  txtBox(5).SetMultiLine(true);

  ComboBox& status = Add<ComboBox>("cboStatus", -1, &entry);
  status.Move(5400, 312, 2145, 315);
  return status;
}

void frmUnAssignForms::ConnectEvents() {
  Load.Connect([this] { Form_Load(); });
  Activate.Connect([this] { Form_Activate(); });
  Unload.Connect([this](int& cancel) { Form_Unload(cancel); });
  cmdOk.Click.Connect([this] { cmdOk_Click(); });
  cmdCancel.Click.Connect([this] { cmdCancel_Click(); });
  for (const auto& [index, box] : txtBox) {
    const int i = index;
    box->KeyPress.Connect([this, i](int& keyAscii) { txtBox_KeyPress(i, keyAscii); });
    box->LostFocus.Connect([this, i] { txtBox_LostFocus(i); });
  }
}

std::chrono::system_clock::time_point frmUnAssignForms::Now() const {
  return mNow ? mNow() : std::chrono::system_clock::now();
}

bool frmUnAssignForms::SetState(std::string& Flag, std::string& Parameters) {
  return Trap("frmUnAssignForms.SetState", [&] {
    Flag = text::ToUpper(text::Trim(Flag));
    mFlag = Flag;
    const std::vector<std::string> fields = SplitParameterFields(Parameters);
    const auto field = [&](std::size_t index) -> const std::string& {
      if (index >= fields.size()) {
        throw PlatformError(
            9, fmt::format("Subscript out of range: the parameter text holds {} fields, so "
                           "field {} of the {} the dialog needs is missing",
                           fields.size(), index, kParameterCount));
      }
      return fields[index];
    };

    if (mFlag == "ASSIGN") {
      SetCaption("Assign Forms");
      cboStatus.SetText("Activate");
      cboStatus.SetVisible(false);
      lblForm(5).SetVisible(false);
      fraForm(1).SetCaption("Forms to Assign");
      lblForm(7).SetVisible(true);
      lblForm(9).SetVisible(true);
      lblForm(8).SetCaption(field(0));
      lblForm(8).SetVisible(true);
      lblForm(10).SetCaption(field(1));
      lblForm(10).SetVisible(true);
    } else if (mFlag == "UNASSIGN") {
      fraForm(1).SetCaption("Forms to UnAssign");
      lblForm(5).SetVisible(true);
      cboStatus.SetVisible(true);
      // An empty list (no reason in force) leaves nothing to select rather than failing.
      if (cboStatus.ListCount() > 0) cboStatus.SetListIndex(0);
      lblForm(7).SetVisible(false);
      lblForm(8).SetVisible(false);
      lblForm(9).SetVisible(false);
      // The changed piece keeps the row's own officer unless the reason unassigns it.
      lblForm(10).SetCaption(field(11));
      lblForm(10).SetVisible(false);
    }

    txtBox(0).SetText(field(2));
    txtBox(3).SetText(field(2));
    txtBox(1).SetText(field(3));
    txtBox(4).SetText(field(3));
    txtBox(2).SetText(field(4));
    txtBox(3).SetTag(field(5));
    mTroop = field(6);
    mDistrict = field(7);
    mFormType = field(8);
    // Only CVSA decals are issued by quarter.
    const bool quarterly = mFormType == "Y";
    for (int index : {11, 12}) lblForm(index).SetVisible(quarterly);
    for (int index : {6, 7}) txtBox(index).SetVisible(quarterly);
    txtBox(6).SetText(quarterly ? field(12) : std::string());
    txtBox(7).SetText(quarterly ? field(13) : std::string());
    mPreviousComment = field(9);
    mPreviousRegistry = field(11);
  });
}

void frmUnAssignForms::FillDelistingBox() {
  Trap("frmUnAssignForms.FillDelistingBox", [&] {
    std::string sql = DelistingSqlBase("CD_TBL_DES", Region());
    if (CurrentViewMode() != kInactiveForms) {
      // "A" is the status of a range in use, written by Assign, never chosen as a reason.
      sql += " AND (CD_TBL_CD <> 'A') ";
      if (!Services::Utility().Switch("VoidManualForms")) sql += " AND (CD_TBL_CD <> 'V') ";
    } else {
      // An inactive range can only be put back in use.
      sql += " AND (CD_TBL_CD = 'A') ";
    }
    DataSet reasons;
    reasons.SetSource(sql);
    reasons.Open();
    reasons.MoveFirst();
    while (!reasons.IsEOF()) {
      cboStatus.AddItem(reasons.GetRecordset().GetText("CD_TBL_DES"));
      reasons.MoveNext();
    }
    reasons.Close();
  });
}

std::string frmUnAssignForms::DelistingCode(const std::string& description) {
  std::string code;
  Trap("TARVO_FormsMaint.DelistingDescription", [&] {
    const std::string sql = DelistingSqlBase("CD_TBL_CD", Region()) + "    AND " +
                            "    (UCASE(TRIM(CD_TBL_DES)) = '" +
                            text::ToUpper(text::Trim(description)) + "') ";
    DataSet reasons;
    reasons.SetSource(sql);
    reasons.Open();
    reasons.MoveFirst();
    if (!reasons.IsEOF()) code = reasons.GetRecordset().GetText("CD_TBL_CD");
    reasons.Close();
  });
  return code;
}

bool frmUnAssignForms::IsDataValid(bool& showMessages) {
  bool valid = false;
  Trap("frmUnAssignForms.IsDataValid", [&] {
    std::string verb;
    std::string past;
    if (mFlag == "ASSIGN") {
      verb = "Assign ";
      past = " assigned.";
    } else if (mFlag == "UNASSIGN") {
      verb = "Unassign ";
      past = " unassigned.";
    }
    CommonUtility& utility = Services::Utility();
    for (int index : {3, 4, 5}) utility.ClearMark(txtBox(index));
    utility.ClearMark(cboStatus);

    const std::string status = text::ToUpper(text::Trim(cboStatus.Text()));
    const std::string from = text::Trim(txtBox(3).Text());
    const std::string to = text::Trim(txtBox(4).Text());

    // The first wrong entry decides the message; its box is marked.
    const auto check = [&]() -> std::string {
      if (status == "UNASSIGN" && text::Trim(txtBox(2).Text()).empty()) {
        return "Selected forms are already " + past;
      }
      if (from.empty()) {
        utility.MarkInError(txtBox(3));
        return "Both the 'From Range' and the 'To Range' must be filled in.";
      }
      if (to.empty()) {
        utility.MarkInError(txtBox(4));
        return "Both the 'From Range' and the 'To Range' must be filled in.";
      }
      const std::optional<std::int64_t> enteredFrom = ReadFormNumber(from);
      if (!enteredFrom) {
        utility.MarkInError(txtBox(3));
        return "Range values must be numeric.";
      }
      const std::optional<std::int64_t> enteredTo = ReadFormNumber(to);
      if (!enteredTo) {
        utility.MarkInError(txtBox(4));
        return "Range values must be numeric.";
      }
      const std::int64_t selectedFrom = FormNumber(txtBox(0).Text(), "selected 'From Range'");
      const std::int64_t selectedTo = FormNumber(txtBox(1).Text(), "selected 'To Range'");
      if (*enteredFrom < selectedFrom) {
        utility.MarkInError(txtBox(3));
        return verb + "'From Range' must be equal to or greater than the selected 'From Range'.";
      }
      if (*enteredTo > selectedTo) {
        utility.MarkInError(txtBox(4));
        return verb + "'To Range' must be equal to or less than the selected 'To Range'.";
      }
      if (*enteredFrom > *enteredTo) {
        utility.MarkInError(txtBox(3));
        return verb + "'From Range' must be equal to or less than the unassign 'To Range'.";
      }
      if (status == "VOID" && text::Trim(txtBox(5).Text()).empty()) {
        utility.MarkInError(txtBox(5));
        return "Comment is required when voiding forms.";
      }
      // The combo takes free text; a status that names no reason in force would be
      // written without a code.
      if (mFlag == "UNASSIGN" && DelistingCode(cboStatus.Text()).empty()) {
        utility.MarkInError(cboStatus);
        return "Select a status from the list.";
      }
      return {};
    };
    const std::string message = check();
    valid = message.empty();
    if (showMessages && !message.empty()) {
      Services::Ui().MessageBox(message, MsgBoxButtons::Ok, MsgBoxIcon::Exclamation,
                                MessageTitle());
    }
  });
  return valid;
}

void frmUnAssignForms::txtBox_KeyPress(int index, int& keyAscii) {
  Trap("frmUnAssignForms.txtBox_KeyPress", [&] {
    // Only the entered range is a number field; the comment takes any key.
    if (index != 3 && index != 4) return;
    if (keyAscii == kPeriod) {
      keyAscii = 0;
      Services::Ui().Beep();
      return;
    }
    if (!Services::Utility().DigitKeyTest(keyAscii)) {
      keyAscii = 0;
      Services::Ui().Beep();
    }
  });
}

void frmUnAssignForms::txtBox_LostFocus(int /*index*/) {
  Trap("frmUnAssignForms.txtBox_LostFocus", [&] {
    // Leaving a box updates the marks without interrupting the clerk.
    bool showMessages = false;
    IsDataValid(showMessages);
  });
}

void frmUnAssignForms::cmdOk_Click() {
  Trap("frmUnAssignForms.cmdOk_Click", [&] {
    bool showMessages = true;
    if (!IsDataValid(showMessages)) return;

    // Should building the rows fail, the clerk keeps the entry as typed: the comment
    // without the stamp (a second Save would stamp it twice) and no half-made rows.
    struct Rollback {
      frmUnAssignForms& dialog;
      std::string comment;
      bool done = false;
      ~Rollback() {
        if (done) return;
        dialog.mChangeRows.reset();
        dialog.txtBox(5).SetText(comment);
      }
    } rollback{*this, txtBox(5).Text()};

    txtBox(5).SetText(txtBox(5).Text() + CommentStamp(Now()));
    if (!mChangeRows) mChangeRows = std::make_shared<DataSet>();
    mChangeRows->SetSource("TROOPFORM");
    mChangeRows->Open();
    SplitEnteredRange();
    rollback.done = true;
    Hide();
  });
}

void frmUnAssignForms::cmdCancel_Click() {
  Trap("frmUnAssignForms.cmdCancel_Click", [&] {
    mChangeRows.reset();
    Hide();
  });
}

void frmUnAssignForms::Form_Load() {
  Trap("frmUnAssignForms.Form_Load", [&] { FillDelistingBox(); });
}

void frmUnAssignForms::Form_Activate() {
  Trap("frmUnAssignForms.Form_Activate", [&] { txtBox(3).SetFocus(); });
}

void frmUnAssignForms::Form_Unload(int& /*cancel*/) {
  Trap("frmUnAssignForms.Form_Unload", [&] {
    // The dialog lives for one operation: what it built is the caller's now, or nobody's
    // (closing the window discards the entry as Close does).
    mChangeRows.reset();
  });
}

}  // namespace fm

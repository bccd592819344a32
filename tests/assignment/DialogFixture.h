#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "assignment/ChangeRows.h"
#include "assignment/frmUnAssignForms.h"
#include "base/Text.h"
#include "common/CommentStamp.h"
#include "common/FormsMaintBas.h"
#include "common/MessageTitle.h"
#include "common/ParameterText.h"
#include "controls/ComboBox.h"
#include "controls/CommandButton.h"
#include "controls/TextBox.h"
#include "document/DocumentFixture.h"
#include "platform/DataSet.h"

namespace fm::testing {

// The selected range as the document hands it to the dialog (the 14 fields of the
// parameter text). The defaults are the range of the worked examples: 100 to 199, held by
// registry 1234 with the comment "C0".
struct SelectedRange {
  std::string officerName;
  std::string officerRegistry;
  std::string from = "100";
  std::string to = "199";
  std::string assignedTo = "1234:HARTLEY, M.";
  std::string rowNumber = "0";
  std::string troop = "C";
  std::string district = "4";
  std::string formType = "C";
  std::string comment = "C0";
  std::string status = "A";
  std::string registry = "1234";
  std::string quarter;
  std::string year;

  std::string Text() const {
    const std::vector<std::string> fields = {
        officerName, officerRegistry, from,    to,     assignedTo, rowNumber, troop,
        district,    formType,        comment, status, registry,   quarter,   year};
    return JoinParameterFields(fields);
  }
};

// The dialog alone, over the demo local database, with a fixed clock for the stamp.
class DialogFixture : public DocumentFixture {
 protected:
  static inline const std::chrono::system_clock::time_point kNow{std::chrono::seconds{1767258000}};

  void SetUp() override {
    DocumentFixture::SetUp();
    SetMessageTitle("Forms Maintenance");
    SetCurrentViewMode(kFormsAssignment);
  }

  void TearDown() override {
    dialog.reset();
    SetCurrentViewMode(kFormsAssignment);
    DocumentFixture::TearDown();
  }

  // Creates and loads the dialog (its status list follows the view mode in force), sets it
  // up and shows it, as the document does.
  frmUnAssignForms& Open(std::string flag, const SelectedRange& range = {}) {
    dialog = std::make_unique<frmUnAssignForms>();
    dialog->SetNow([] { return kNow; });
    dialog->LoadForm();
    std::string parameters = range.Text();
    dialog->SetState(flag, parameters);
    dialog->Show();
    return *dialog;
  }

  // Assign to the officer of the worked examples, registry 5678.
  frmUnAssignForms& OpenAssign(SelectedRange range = {}) {
    range.officerName = "DOE, A.";
    range.officerRegistry = "5678";
    return Open("ASSIGN", range);
  }

  // Change Status with the reason of this description.
  frmUnAssignForms& OpenChangeStatus(const std::string& reason, SelectedRange range = {}) {
    Open("UNASSIGN", range);
    dialog->cboStatus.SetText(reason);
    return *dialog;
  }

  void Enter(const std::string& from, const std::string& to, const std::string& comment = "") {
    dialog->txtBox(3).SetText(from);
    dialog->txtBox(4).SetText(to);
    dialog->txtBox(5).SetText(comment);
  }

  // Save; answers the change rows made (none when the dialog made none).
  std::vector<ChangeRow> Save() {
    dialog->cmdOk.PerformClick();
    if (!dialog->Recordset()) return {};
    return ReadChangeRows(dialog->Recordset()->GetRecordset());
  }

  // The comment as written: the clerk's text with the stamp of the fixed clock.
  static std::string Stamped(const std::string& comment) {
    return text::Trim(comment + CommentStamp(kNow));
  }

  std::unique_ptr<frmUnAssignForms> dialog;
};

}  // namespace fm::testing

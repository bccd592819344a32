// Splitting the selected range into change rows: the piece that starts where the range
// starts replaces the selected row ("UPD"); the other pieces are added ("ADD"). Only the
// entered piece takes the dialog's registry, status and stamped comment; the pieces around
// it stay as the row was.
//
// Every operation here runs under its own error trap, so that a report names the step
// that failed, and then stops Save (an early exit the caller's trap passes over): the
// rows are all made or none are.

#include <fmt/format.h>

#include <string>

#include "assignment/FormNumbers.h"
#include "assignment/frmUnAssignForms.h"
#include "base/Text.h"
#include "controls/ComboBox.h"
#include "controls/Label.h"
#include "controls/TextBox.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/PlatformError.h"
#include "platform/Recordset.h"
#include "platform/Value.h"

namespace fm {

namespace {

// Runs one step of the splitting; a failure is reported under the step's name and ends
// Save silently.
template <class Body>
void Step(std::string_view source, Body&& body) {
  if (!Trap(source, std::forward<Body>(body))) RaiseEarlyExit();
}

struct Bounds {
  std::int64_t selectedFrom;
  std::int64_t selectedTo;
  std::int64_t enteredFrom;
  std::int64_t enteredTo;
};

Bounds ReadBounds(const ControlArray<TextBox>& txtBox) {
  return {FormNumber(txtBox(0).Text(), "selected 'From Range'"),
          FormNumber(txtBox(1).Text(), "selected 'To Range'"),
          FormNumber(txtBox(3).Text(), "entered 'From Range'"),
          FormNumber(txtBox(4).Text(), "entered 'To Range'")};
}

std::string Text(std::int64_t number) { return fmt::format("{}", number); }

}  // namespace

void frmUnAssignForms::SplitEnteredRange() {
  // Part of Save: a failure here is Save's, under its trap.
  ArgumentList arguments;
  // Decal ranges issued by quarter are changed as entered, in one row.
  if (mFormType == "Y") {
    SpecialSealDecalSendDTD(arguments);
    return;
  }
  // Compared by value: an entry written with a leading zero is the same bound.
  const Bounds b = ReadBounds(txtBox);
  if (b.enteredFrom == b.selectedFrom && b.enteredTo == b.selectedTo) {
    RangesAreSame(arguments);
  } else if (b.enteredFrom == b.selectedFrom) {
    RangesFromAreSame(arguments);
  } else if (b.enteredTo != b.selectedTo) {
    RangesForAllElse(arguments);
  } else {
    RangesToAreSame(arguments);
  }
}

void frmUnAssignForms::BlankArray(ArgumentList& arguments) {
  Step("frmUnAssignForms.BlankArray", [&] {
    for (auto& position : arguments) position.reset();
  });
}

void frmUnAssignForms::ApplyUnassignRule(ArgumentList& arguments) {
  // The reason "Unassign" takes the piece away from its officer; every other reason
  // leaves it with whoever held it.
  if (text::ToUpper(text::Trim(cboStatus.Text())) == "UNASSIGN") arguments[3] = "0";
}

void frmUnAssignForms::SetUntouchedPiece(ArgumentList& arguments, std::int64_t from,
                                         std::int64_t to) {
  arguments[1] = Text(from);
  arguments[2] = Text(to);
  // Given even when empty: an untouched piece never takes the new officer or comment.
  arguments[3] = mPreviousRegistry;
  arguments[4] = "A";
  arguments[5] = mPreviousComment;
}

void frmUnAssignForms::MakeRecordset(ArgumentList& arguments) {
  Step("frmUnAssignForms.MakeRecordset", [&] {
    const auto given = [&](std::size_t position) -> const std::optional<std::string>& {
      return arguments[position];
    };
    const std::string action = given(0).value_or("UPD");
    const std::string from = given(1) ? *given(1) : text::Trim(txtBox(3).Text());
    const std::string to = given(2) ? *given(2) : text::Trim(txtBox(4).Text());
    std::string registry = text::Trim(given(3) ? *given(3) : lblForm(10).Caption());
    if (registry.empty()) registry = "0";
    std::string status;
    if (given(4)) {
      status = *given(4);
    } else if (mFlag == "ASSIGN") {
      status = "A";
    } else if (mFlag == "UNASSIGN") {
      status = DelistingCode(cboStatus.Text());
      if (status.empty()) {
        throw PlatformError(PlatformError::kGeneric,
                            fmt::format("The status '{}' is not a delisting reason in force: "
                                        "choose a status from the list",
                                        text::Trim(cboStatus.Text())));
      }
    }
    const std::string comment = text::Trim(given(5) ? *given(5) : txtBox(5).Text());

    fm::Recordset& rows = mChangeRows->GetRecordset();
    rows.AddNew();
    rows.SetValue("ACTION", action);
    rows.SetValue("FRM_FORM_NBR", from);
    rows.SetValue("TO_FORM_NBR", to);
    rows.SetValue("TRP_ID", mTroop);
    rows.SetValue("TRP_DIST_ID", mDistrict);
    rows.SetValue("FORM_TYP_CD", mFormType);
    rows.SetValue("ASGND_REG_NBR", registry);
    if (mFormType == "Y") {
      rows.SetValue("FORM_QTR_DT", text::Trim(txtBox(6).Text()));
      rows.SetValue("FORM_YR_DT", text::Trim(txtBox(7).Text()));
      // Decals returned to supply are no officer's any more.
      if (status == "R") rows.SetValue("ASGND_REG_NBR", "0");
    }
    rows.SetValue("TRP_ACTN_CD", status);
    rows.SetValue("TRP_FORM_CMMT_TXT", comment.empty() ? Value::Null() : Value(comment));
    rows.Update();
  });
}

void frmUnAssignForms::RangesAreSame(ArgumentList& arguments) {
  Step("frmUnAssignForms.RangesAreSame", [&] {
    BlankArray(arguments);
    arguments[0] = "UPD";
    ApplyUnassignRule(arguments);
    MakeRecordset(arguments);
  });
}

void frmUnAssignForms::RangesFromAreSame(ArgumentList& arguments) {
  Step("frmUnAssignForms.RangesFromAreSame", [&] {
    const Bounds b = ReadBounds(txtBox);
    BlankArray(arguments);
    arguments[0] = "UPD";
    ApplyUnassignRule(arguments);
    MakeRecordset(arguments);

    BlankArray(arguments);
    arguments[0] = "ADD";
    SetUntouchedPiece(arguments, OffsetFormNumber(b.enteredTo, 1, "the entered 'To Range'"),
                      b.selectedTo);
    MakeRecordset(arguments);
  });
}

void frmUnAssignForms::RangesToAreSame(ArgumentList& arguments) {
  Step("frmUnAssignForms.RangesToAreSame", [&] {
    const Bounds b = ReadBounds(txtBox);
    BlankArray(arguments);
    arguments[0] = "UPD";
    SetUntouchedPiece(arguments, b.selectedFrom,
                      OffsetFormNumber(b.enteredFrom, -1, "the entered 'From Range'"));
    MakeRecordset(arguments);

    BlankArray(arguments);
    arguments[0] = "ADD";
    ApplyUnassignRule(arguments);
    MakeRecordset(arguments);
  });
}

void frmUnAssignForms::RangesForAllElse(ArgumentList& arguments) {
  Step("frmUnAssignForms.RangesForAllElse", [&] {
    const Bounds b = ReadBounds(txtBox);
    BlankArray(arguments);
    arguments[0] = "UPD";
    SetUntouchedPiece(arguments, b.selectedFrom,
                      OffsetFormNumber(b.enteredFrom, -1, "the entered 'From Range'"));
    MakeRecordset(arguments);

    BlankArray(arguments);
    arguments[0] = "ADD";
    SetUntouchedPiece(arguments, OffsetFormNumber(b.enteredTo, 1, "the entered 'To Range'"),
                      b.selectedTo);
    MakeRecordset(arguments);

    BlankArray(arguments);
    arguments[0] = "ADD";
    ApplyUnassignRule(arguments);
    MakeRecordset(arguments);
  });
}

void frmUnAssignForms::SpecialSealDecalSendDTD(ArgumentList& arguments) {
  Step("frmUnAssignForms.SpecialSealDecalSendDTD", [&] {
    // One row for the entered range; the "R" rule of MakeRecordset takes the officer off
    // decals returned to supply, the Unassign rule is not applied.
    BlankArray(arguments);
    arguments[0] = "UPD";
    MakeRecordset(arguments);
  });
}

}  // namespace fm

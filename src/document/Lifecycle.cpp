// The document's life in the host: first show, the public operations, the unsaved-data
// question on close, and the save of new ranges.

#include <chrono>

#include "common/FormsMaintBas.h"
#include "common/MessageTitle.h"
#include "controls/DataGrid.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/CommonUtility.h"
#include "platform/DataSet.h"
#include "platform/ErrorTrap.h"
#include "platform/EventLoop.h"
#include "platform/HostFrame.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/UiServices.h"

namespace fm {

namespace {
constexpr std::chrono::milliseconds kSaveWaitStep{500};
}

void TARVO_FormsMaint::UserDocument_Show() {
  Trap("TARVO_FormsMaint.UserDocument_Show", [&] {
    SetCurrentViewMode(kFormsAssignment);
    mViewMode.mModeMarker.clear();
    mViewMode.mSavedTroopDistrict.clear();
    mViewMode.mSavedFormType.clear();

    SetHostTag(mHost.mParentTag);
    SetMessageTitle(mHost.mParentCaption);

    Services::Frame().SetStatusText("Loading information");
    Services::Ui().SetMousePointer(MousePointer::Hourglass);

    if (!mVexaMessage) {
      mVexaMessage = MessageComponent::Obtain();
      mVexaMessage->AddListener(this);
    }

    ProcessOptFormsAssignmentClick();
    InitializeRecordSets();
    EnableFormsAssignmentControls("FULL", false);

    CommonUtility& utility = Services::Utility();
    utility.GridNormalAppearance(grdFormsAssignment);
    utility.GridNormalAppearance(grdOfficerList);
    utility.GridNormalAppearance(grdNewForms);

    Services::Frame().SetSecondStatus(true);
    ConfigureToolbar(false);

    SetGridBolding(grdFormsAssignment);
    SetGridBolding(grdOfficerList);
    SetGridBolding(grdNewForms);

    Services::Ui().SetMousePointer(MousePointer::Default);
    Services::Frame().SetStatusText("Ready");
  });
}

bool TARVO_FormsMaint::NeedSave() {
  bool needSave = false;
  Trap("TARVO_FormsMaint.NeedSave", [&] { Services::Ui().SetMousePointer(MousePointer::Default); });
  return needSave;
}

bool TARVO_FormsMaint::DataChanged() {
  bool changed = false;
  Trap("TARVO_FormsMaint.DataChanged", [&] {
    changed = mData.mNewForms && mData.mNewForms->IsOpen() && mData.mNewForms->RecordCount() >= 1;
  });
  return changed;
}

bool TARVO_FormsMaint::CloseDocument() {
  bool mayClose = false;
  Trap("TARVO_FormsMaint.CloseDocument", [&] {
    if (!DataChanged()) {
      mayClose = true;
      return;
    }
    const MsgBoxResult answer =
        Services::Ui().MessageBox("New Forms have been added. Do you wish to save them ?",
                                  MsgBoxButtons::YesNoCancel, MsgBoxIcon::Question, MessageTitle());
    if (answer == MsgBoxResult::Cancel) {
      mayClose = false;
      return;
    }
    if (answer == MsgBoxResult::No) {
      mayClose = true;
      return;
    }

    const std::string requestBefore = mSearch.mRequestId;
    SaveData();
    mSearch.mReplyReceived = false;
    mSearch.mSaveFailed = false;
    if (mSearch.mRequestId == requestBefore) {
      // Nothing went out (the send failed and was reported): waiting for a reply would
      // never end, and the rows are still unsaved.
      mayClose = false;
      return;
    }

    // The reply handler ends the wait. A time-out never sets the reply-received flag, so
    // the time-out event ends it too: the save is then unconfirmed and the close refused,
    // leaving the rows on the screen to be saved again.
    EventLoop& loop = Services::Loop();
    while (!mSearch.mReplyReceived && !mSearch.mTimedOut) {
      loop.ProcessPendingEvents();
      if (mSearch.mReplyReceived || mSearch.mTimedOut) break;
      loop.Sleep(kSaveWaitStep);
      loop.ProcessPendingEvents();
    }
    mayClose = mSearch.mReplyReceived && !mSearch.mSaveFailed;
  });
  return mayClose;
}

void TARVO_FormsMaint::BeforeUnload() {
  Trap("TARVO_FormsMaint.BeforeUnload", [&] {
    ConfigureToolbar(true);
    Services::Replies()->Forget(mHost.mDocumentIdentity);
    if (mVexaMessage) {
      mVexaMessage->RemoveListener(this);
      mVexaMessage.reset();
    }
  });
}

void TARVO_FormsMaint::SaveData() {
  Trap("TARVO_FormsMaint.SaveData", [&] {
    mSearch.mOrigin = "SaveData";
    const std::string troop = mSearch.mCurrent.troop;
    const std::string district = mSearch.mCurrent.district;
    const std::string formType = mSearch.mCurrent.formType;

    if (mSearch.mCurrent.troop.empty()) {
      mSearch.mCurrent.troop = mSearch.mLastSearch.troop;
      mSearch.mCurrent.district = mSearch.mLastSearch.district;
    }
    if (mSearch.mCurrent.formType.empty()) mSearch.mCurrent.formType = mSearch.mLastSearch.formType;

    SaveDataAndRequery(mData.mNewForms);
    mSearch.mSaving = true;

    mSearch.mCurrent.troop = troop;
    mSearch.mCurrent.district = district;
    mSearch.mCurrent.formType = formType;
  });
}

void TARVO_FormsMaint::LoadFormsAssignment() {
  Trap("TARVO_FormsMaint.LoadFormsAssignment", [] {});
}

void TARVO_FormsMaint::EditProperties() {
  Trap("TARVO_FormsMaint.EditProperties", [] {});
}

void TARVO_FormsMaint::FileNew() {
  Trap("TARVO_FormsMaint.FileNew", [] { Services::Ui().SetMousePointer(MousePointer::Default); });
}

void TARVO_FormsMaint::LoadDutyAssignment() {
  Trap("TARVO_FormsMaint.LoadDutyAssignment", [] {});
}

void TARVO_FormsMaint::UserDocument_Terminate() {
  Trap("TARVO_FormsMaint.UserDocument_Terminate", [&] {
    mData.mFormsAssignment.reset();
    mData.mNewForms.reset();
    mEntry.mCodeLookup.reset();
    mData.mOfficerList.reset();
  });
}

void TARVO_FormsMaint::SetTroopCheckSuppressed(bool suppressed) {
  mSearch.mSuppressTroopCheck = suppressed;
}

}  // namespace fm

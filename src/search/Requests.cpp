// Requests to the central server and the handling of its replies and time-outs.

#include <fmt/format.h>

#include <optional>
#include <string>

#include "base/Text.h"
#include "common/MessageTitle.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/OptionButton.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/CommonUtility.h"
#include "platform/DataSet.h"
#include "platform/ErrorReporter.h"
#include "platform/ErrorTrap.h"
#include "platform/HostFrame.h"
#include "platform/MessageComponent.h"
#include "platform/PlatformError.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/UiServices.h"

namespace fm {

namespace {

constexpr const char* kQueryFormsSource = "TARVO_FormsMaint.QueryForms";
constexpr const char* kDataReadySource = "TARVO_FormsMaint.mVexaMessage_DataReady";
constexpr const char* kApplicationId = "QUILLMAR";

std::string Key(const char* name) { return std::string("key:") + name; }

// For the record only: the request is still sent, but the server will answer with more
// than the operation meant to refresh.
void ReportOrigin(const std::string& origin, const char* what) {
  Services::Errors().Report(fmt::format("Origin-{}-{}", origin, what), Services::ExecutableName(),
                            kQueryFormsSource, std::nullopt, 1);
}

const char* StatusForReply(bool formsFound, bool officersFound) {
  if (formsFound && officersFound) return "Ready";
  if (formsFound) return "No Officers assigned for specified selection criteria";
  if (officersFound) return "No Forms assigned for specified selection criteria";
  return "No Forms and Officers assigned for specified selection criteria";
}

}  // namespace

void TARVO_FormsMaint::QueryForms(std::int16_t messageType, std::shared_ptr<DataSet> dataSet) {
  Trap(kQueryFormsSource, [&] {
    if (!mVexaMessage) {
      throw PlatformError(PlatformError::kGeneric,
                          "Cannot send a request: the document has no message component "
                          "(it is obtained when the document is first shown)");
    }

    Criteria working = mSearch.mCurrent;
    if (working.formType.empty()) working.formType = mSearch.mLastSearch.formType;
    // Without a troop or an officer the request would ask for the whole inventory: repeat
    // the last search's selection instead, all of it, even the parts that were empty.
    if (working.troop.empty() && working.registry.empty()) {
      working.troop = mSearch.mLastSearch.troop;
      working.district = mSearch.mLastSearch.district;
      working.registry = mSearch.mLastSearch.registry;
      working.formNumber = mSearch.mLastSearch.formNumber;
    }

    auto request = mVexaMessage->CreateRequest();
    // Kept before sending: a reply may only be matched with the request it answers.
    mSearch.mRequestId = request->RequestId();
    request->SetIdentity(mHost.mDocumentIdentity);
    request->SetVersion(fmt::format("{}.{}", kVersionMajor, kVersionMinor));
    request->SetRequesterValue(Services::Settings().RequesterValue());
    request->SetMessageType(messageType);
    request->AttachDataSet(dataSet, "TROOPFORM");

    const std::string origin = text::Trim(mSearch.mOrigin);
    if (!working.troop.empty()) {
      request->AddCriterion(Key("TRP_ID"), working.troop, "=", kApplicationId);
      if (!working.district.empty()) {
        request->AddCriterion(Key("TRP_DIST_ID"), working.district, "=", kApplicationId);
      }
    } else if (!origin.empty()) {
      ReportOrigin(mSearch.mOrigin, "Empty T/D");
    }
    if (!working.formType.empty()) {
      request->AddCriterion(Key("REF_TYP_CD"), working.formType, "=", kApplicationId);
    } else if (!origin.empty()) {
      ReportOrigin(mSearch.mOrigin, "Empty Form Type");
    }
    if (!working.registry.empty()) {
      request->AddCriterion(Key("ASGND_REG_NBR"), working.registry, "=", kApplicationId);
    }
    if (optButton(0).Value() && !working.formNumber.empty()) {
      request->AddCriterion(Key("FORM_SEARCH_NBR"), working.formNumber, "=", kApplicationId);
    }
    if (optButton(2).Value()) {
      request->AddCriterion(Key("INACTIVE"), "Y", "=", kApplicationId);
    } else {
      // Voided ranges are history: only the Inactive Forms view shows them.
      request->AddCriterion(Key("INACTIVE"), "N", "=", kApplicationId);
      request->AddCriterion(Key("TRP_ACTN_CD"), "V", "<>", kApplicationId);
    }
    request->AddCriterion(Key("THIN"), "YES", "=", kApplicationId);

    request->Send();
    request.reset();

    mSearch.mTimedOut = false;
    EnableFormsAssignmentControls("FULL", false);
    ConfigureToolbar(false);
  });
}

void TARVO_FormsMaint::SaveDataAndRequery(std::shared_ptr<DataSet> dataSet) {
  Trap("TARVO_FormsMaint.SaveDataAndRequery", [&] {
    if (!dataSet || dataSet->RecordCount() < 1) return;
    QueryForms(34, dataSet);
    Services::Frame().SetStatusText("Saving Forms");
  });
}

void TARVO_FormsMaint::mVexaMessage_MsgTimeout(long /*value*/) {
  // The failed reply that follows reads this flag to tell a time-out from a refusal.
  Trap("TARVO_FormsMaint.mVexaMessage_MsgTimeout", [&] { mSearch.mTimedOut = true; });
}

void TARVO_FormsMaint::mVexaMessage_DataReady(const std::string& target) {
  Trap(kDataReadySource, [&] {
    Services::Frame().SetSecondStatus(true);
    // The component is shared: every document hears every reply.
    if (text::ToUpper(text::Trim(target)) != text::ToUpper(text::Trim(mHost.mDocumentIdentity))) {
      RaiseEarlyExit();
    }
    Services::Ui().SetMousePointer(MousePointer::Hourglass);

    const std::string error = Services::Utility().ReplyCheck(mHost.mDocumentIdentity,
                                                             kDataReadySource, mSearch.mRequestId);
    if (!error.empty()) {
      Services::Ui().MessageBox(error, MsgBoxButtons::Ok, MsgBoxIcon::Critical, MessageTitle());
      if (mSearch.mTimedOut) {
        // A time-out is no answer to a save: the flags wait for a real reply.
        Services::Frame().SetStatusText("Search timed out");
      } else {
        mSearch.mSaveFailed = true;
        mSearch.mReplyReceived = true;
        Services::Frame().SetStatusText("Search was not successful");
      }
      return;
    }

    mSearch.mReplyReceived = true;
    if (mSearch.mSaving) {
      // The new ranges are stored now: start an empty list and clear the entry area.
      mSearch.mSaving = false;
      mData.mNewForms = NewTemplateDataSet("TROOPFORM");
      adoNewForms.SetRecordset(mData.mNewForms->RecordsetPtr());
      grdNewForms.Refresh();
      ProcessCmdButtonClearClick();
    }

    const bool formsFound = LoadForms();
    const bool officersFound = LoadOfficers();
    Services::Frame().SetStatusText(StatusForReply(formsFound, officersFound));
    // Only the reply to the latest request is ever read again; the grids hold what they
    // show.
    Services::Replies()->ForgetAllBut(mHost.mDocumentIdentity, mSearch.mRequestId);
  });

  // Whatever happened above, the grids and buttons come back and follow the selection.
  Trap(kDataReadySource, [&] {
    EnableFormsAssignmentControls("PARTIAL", true);
    grdFormsAssignment_Click();
    Services::Ui().SetMousePointer(MousePointer::Default);
  });
}

}  // namespace fm

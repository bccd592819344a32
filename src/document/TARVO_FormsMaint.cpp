#include "document/TARVO_FormsMaint.h"

#include <fmt/format.h>

#include <atomic>

#include "common/CommentStamp.h"
#include "controls/CodesCombo.h"
#include "controls/CommandButton.h"
#include "controls/DataControl.h"
#include "controls/DataGrid.h"
#include "controls/Frame.h"
#include "controls/Label.h"
#include "controls/OptionButton.h"
#include "controls/TextBox.h"
#include "platform/DataSet.h"
#include "platform/Services.h"

namespace fm {

namespace {

// Replies are routed to a document by this text, so it must differ for every document of
// the process; the host may create several at once.
std::string NextDocumentIdentity() {
  static std::atomic<unsigned> counter{0};
  return fmt::format("SCR.TARVO_FormsMaint.{}", ++counter);
}

}  // namespace

TARVO_FormsMaint::TARVO_FormsMaint()
    : Form("TARVO_FormsMaint"),
      fraSelections(Add<Frame>("fraSelections")),
      fraSearchForms(Add<Frame>("fraSearchForms")),
      fraAddForms(Add<Frame>("fraAddForms")),
      qmCboFormTypes(Add<CodesCombo>("qmCboFormTypes")),
      adoFormsAssignment(Add<DataControl>("adoFormsAssignment")),
      adoOfficerList(Add<DataControl>("adoOfficerList")),
      adoNewForms(Add<DataControl>("adoNewForms")),
      grdFormsAssignment(Add<DataGrid>("grdFormsAssignment", -1, &fraSearchForms)),
      grdOfficerList(Add<DataGrid>("grdOfficerList", -1, &fraSearchForms)),
      grdNewForms(Add<DataGrid>("grdNewForms", -1, &fraAddForms)),
      rszResizer(Add<Resizer>("rszResizer")),
      mHost{NextDocumentIdentity(), {}, {}, {}} {
  CreateControls();
  ConnectEvents();
}

TARVO_FormsMaint::~TARVO_FormsMaint() {
  // The host normally calls BeforeUnload first; a document destroyed without it must still
  // stop receiving the shared component's events.
  if (mVexaMessage) mVexaMessage->RemoveListener(this);
  UserDocument_Terminate();
}

void TARVO_FormsMaint::SetParentWindow(std::string caption, std::string tag) {
  mHost.mParentCaption = std::move(caption);
  mHost.mParentTag = std::move(tag);
}

std::chrono::system_clock::time_point TARVO_FormsMaint::Now() const {
  return mHost.mNow ? mHost.mNow() : std::chrono::system_clock::now();
}

std::shared_ptr<DataSet> TARVO_FormsMaint::NewTemplateDataSet(const char* templateName) const {
  auto dataSet = std::make_shared<DataSet>();
  dataSet->SetSource(templateName);
  dataSet->Open();
  return dataSet;
}

std::string TARVO_FormsMaint::CommentStamp() const { return fm::CommentStamp(Now()); }

}  // namespace fm

#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls/Form.h"
#include "controls/Resizer.h"
#include "platform/MessageComponent.h"
#include "platform/Recordset.h"

namespace fm {

class CodesCombo;
class CommandButton;
class Control;
class DataControl;
class DataGrid;
class DataSet;
class Frame;
class Label;
class LayoutMetrics;
class OptionButton;
class TextBox;
class frmAddOfficer;

// The forms-maintenance document: one screen with three view modes (Forms Assignment, New
// Forms, Inactive Forms) that searches the central server for the form ranges and troopers
// of a selection, records new ranges, and assigns, delists and moves ranges.
//
// The host creates it, tells it its parent window (SetParentWindow), shows it once
// (UserDocument_Show), calls the public operations, asks CloseDocument, calls BeforeUnload
// and destroys it. Everything else starts from the document's own controls or from the
// message component's events, all on the user-interface thread.
//
// The member functions live in the folder of their subsystem: document/ (design, life cycle,
// working data, toolbar, view modes, host shell), search/, newforms/, assignment/,
// dutystation/; the state at the end of the class is grouped by the subsystem that owns it.
// Every procedure runs under the error trap with its qualified name
// ("TARVO_FormsMaint.QueryForms").
class TARVO_FormsMaint final : public Form, private MessageListener {
 public:
  // The component's own version; requests carry major "." minor.
  static constexpr int kVersionMajor = 1;
  static constexpr int kVersionMinor = 0;

  TARVO_FormsMaint();
  ~TARVO_FormsMaint() override;

  // --- What the host gives the document
  // The parent window's caption (the message title) and tag (passed with toolbar calls).
  void SetParentWindow(std::string caption, std::string tag);
  // Unique per instance; requests carry it and replies are addressed to it.
  const std::string& DocumentIdentity() const { return mHost.mDocumentIdentity; }
  // Today's date and time, a seam for tests (defaults to the system clock).
  using NowFunction = std::function<std::chrono::system_clock::time_point()>;
  void SetNow(NowFunction now) { mHost.mNow = std::move(now); }

  // --- Public operations, in the order of the published interface
  bool NeedSave();
  bool CloseDocument();
  void BeforeUnload();
  void SaveData();
  void LoadFormsAssignment();
  void EditProperties();
  void FileNew();
  void LoadDutyAssignment();

  // --- Layout: captions sized from the renderer's fonts, and the resize policy (Design.cpp)
  void FitLayout(const LayoutMetrics& metrics) override;

  // --- Life cycle
  void UserDocument_Show();
  void UserDocument_Terminate();
  bool DataChanged();
  void SetTroopCheckSuppressed(bool suppressed);

  // --- Controls (owned by the form; reached as the screen's code names them)
  TextBox& txtBox(int index) const { return *mTxtBox.at(static_cast<std::size_t>(index)); }
  Label& lblLabel(int index) const { return *mLblLabel.at(static_cast<std::size_t>(index)); }
  OptionButton& optButton(int index) const {
    return *mOptButton.at(static_cast<std::size_t>(index));
  }
  CommandButton& cmdButton(int index) const {
    return *mCmdButton.at(static_cast<std::size_t>(index));
  }
  Frame& fraSelections;
  Frame& fraSearchForms;
  Frame& fraAddForms;
  CodesCombo& qmCboFormTypes;
  DataControl& adoFormsAssignment;
  DataControl& adoOfficerList;
  DataControl& adoNewForms;
  DataGrid& grdFormsAssignment;
  DataGrid& grdOfficerList;
  DataGrid& grdNewForms;
  Resizer& rszResizer;

  // --- Event handlers (connected to the controls; tests may call them directly)
  void optButton_Click(int index);
  void cmdButton_Click(int index);
  void txtBox_Change(int index);
  void txtBox_KeyPress(int index, int& keyAscii);
  void txtBox_LostFocus(int index);
  void qmCboFormTypes_Change();
  void qmCboFormTypes_LostFocus();
  void grdFormsAssignment_Click();
  void grdFormsAssignment_RowLoaded(Recordset::Bookmark bookmark);
  void grdOfficerList_RowLoaded(Recordset::Bookmark bookmark);
  void grdNewForms_RowLoaded(Recordset::Bookmark bookmark);
  void rszResizer_BeforeResize(Control& control, Resizer::Settings& settings);
  void rszResizer_ResizeComplete();
  void mVexaMessage_DataReady(const std::string& target);
  void mVexaMessage_MsgTimeout(long value);
  void mEventAddOfficer_SendOK(std::shared_ptr<DataSet> addedOfficers);

  // --- State the host shell and tests read
  const std::string& ErrorMessages() const { return mEntry.mErrorMessages; }
  const std::string& RangeMessage() const { return mEntry.mRangeMessage; }
  const std::string& RequestId() const { return mSearch.mRequestId; }
  const std::string& Origin() const { return mSearch.mOrigin; }
  bool TimedOut() const { return mSearch.mTimedOut; }
  bool Saving() const { return mSearch.mSaving; }
  bool ReplyReceived() const { return mSearch.mReplyReceived; }
  bool SaveFailed() const { return mSearch.mSaveFailed; }
  bool TroopCheckSuppressed() const { return mSearch.mSuppressTroopCheck; }
  const std::shared_ptr<MessageComponent>& MessageComponentRef() const { return mVexaMessage; }
  std::shared_ptr<DataSet> FormsAssignmentDataSet() const { return mData.mFormsAssignment; }
  std::shared_ptr<DataSet> NewFormsDataSet() const { return mData.mNewForms; }
  std::shared_ptr<DataSet> OfficerListDataSet() const { return mData.mOfficerList; }

  struct Criteria {
    std::string troop;
    std::string district;
    std::string formType;
    std::string registry;
    std::string formNumber;
    friend bool operator==(const Criteria&, const Criteria&) = default;
  };
  const Criteria& CurrentCriteria() const { return mSearch.mCurrent; }
  const Criteria& LastSearchCriteria() const { return mSearch.mLastSearch; }
  void SetCurrentCriteria(Criteria criteria) { mSearch.mCurrent = std::move(criteria); }
  void SetLastSearchCriteria(Criteria criteria) { mSearch.mLastSearch = std::move(criteria); }
  // --- What the host shell reads of the grids and gives back to them, so that it never
  // reaches into them (document/HostShell.cpp)
  struct Range {
    std::string formType;  // trimmed
    std::int64_t from = 0;
    std::int64_t to = 0;
  };
  struct Trooper {
    std::int64_t registry = 0;
    std::string name;  // as the troopers grid shows it
    std::string troop;
    std::string district;
  };
  // The first range selected in grdFormsAssignment; none without a selection.
  std::optional<Range> SelectedRange() const;
  // The trooper of grdOfficerList's selected (else current) row; none without one.
  std::optional<Trooper> SelectedTrooper() const;
  // Every trooper grdOfficerList lists, in its order.
  std::vector<Trooper> ListedTroopers() const;
  // What a grid shows: its rows (nullptr while none are bound), how many, whether the grid
  // is shown, and a number that changes whenever its rows do.
  enum class Grid { FormsAssignment, OfficerList, NewForms };
  struct GridRows {
    std::shared_ptr<const Recordset> rows;
    long count = 0;
    bool shown = false;
    std::uint64_t version = 0;
  };
  GridRows Rows(Grid grid) const;
  // Puts new ranges the host kept (fields by name) into New Forms as Add Forms would have:
  // after the rows waiting, with the last one's station and form type for the save.
  void RestoreNewForms(const Recordset& rows);

  const std::string& ModeMarker() const { return mViewMode.mModeMarker; }
  const std::string& SavedTroopDistrict() const { return mViewMode.mSavedTroopDistrict; }
  const std::string& SavedFormType() const { return mViewMode.mSavedFormType; }

  // --- Document shell (document/)
  void InitializeRecordSets();
  void InitializeSearchVariables();
  void ConfigureToolbar(bool enabled);
  void EnableSaveToolbarItem();
  void EnableSearchButtons();
  void ProcessOptFormsAssignmentClick();
  void ProcessOptNewFormsClick();
  void ProcessOptInactiveFormsClick();

  // --- Search and retrieval (search/)
  void TroopDistrictSplit();
  bool TroopDistrictCheck();
  void ProcessCmdButtonSearchClick();
  void ProcessCmdButtonClearClick();
  void QueryForms(std::int16_t messageType, std::shared_ptr<DataSet> dataSet);
  void SaveDataAndRequery(std::shared_ptr<DataSet> dataSet);
  bool LoadForms();
  bool LoadOfficers();
  std::string GetOfcrName(std::int32_t registry);
  std::string AssembleOfficerSQL();

  // --- New forms (newforms/)
  void CheckEdit();
  bool CheckEditRange(std::string& value, std::string& message);
  bool CheckEditRangeDuplicates();
  void ProcessCmdButtonAddFormsClick();
  void ProcessCmdButtonRemoveFormsClick();
  void AddNewForms();
  std::int16_t QuarterOfYear();
  std::string FormDescription(std::string& code);
  std::string DelistingDescription(std::string& code);

  // --- Forms assignment (assignment/)
  void EnableFormsAssignmentControls(const std::string& mode, bool enable);
  void SetGridBolding(DataGrid& grid);
  void ProcessCmdButtonAssignUnAssignClick(std::int16_t& index);

  // --- Duty stations and troopers (dutystation/)
  void ProcessCmdButtonChangeTroopDistrictClick();
  void ProcessCmdButtonAddOfficersClick();

 private:
  // MessageListener: the component's events, on the user-interface thread.
  void OnDataReady(const std::string& target) override { mVexaMessage_DataReady(target); }
  void OnMsgTimeout(long value) override { mVexaMessage_MsgTimeout(value); }

  void CreateControls();
  void SetUpResizer();
  // The width each grid's caption bar needs (0: nothing measured yet).
  struct GridCaptionWidths {
    int formsAssignment = 0;
    int officerList = 0;
    int newForms = 0;
  };
  void SetGridMinimumSizes(const GridCaptionWidths& captions);
  void ConnectEvents();
  void SwapCriteria(const char* marker);
  void LayOutRangeEntries(int fromLabelLeft);
  void AlignQuarterAndYear();
  std::shared_ptr<DataSet> NewTemplateDataSet(const char* templateName) const;
  std::string CommentStamp() const;
  std::chrono::system_clock::time_point Now() const;

  // document/Design.cpp: the indexed control arrays.
  std::array<TextBox*, 8> mTxtBox{};
  std::array<Label*, 9> mLblLabel{};
  std::array<OptionButton*, 3> mOptButton{};
  std::array<CommandButton*, 8> mCmdButton{};

  // The document's state, grouped by the subsystem that owns it (writes it and keeps it
  // consistent); the others read it. Strings start empty, flags false, references empty.

  // document/ (TARVO_FormsMaint.cpp, Lifecycle.cpp): what the host gave.
  struct HostState {
    std::string mDocumentIdentity;  // constant after construction
    std::string mParentCaption;     // the parent window, as the host set it
    std::string mParentTag;
    NowFunction mNow;
  };
  // search/: the exchange with the server and the criteria of the searches.
  struct SearchState {
    std::string mRequestId;
    bool mTimedOut = false;
    bool mSaving = false;
    bool mReplyReceived = false;
    bool mSaveFailed = false;
    std::string mOrigin;
    Criteria mLastSearch;
    Criteria mCurrent;
    bool mSuppressTroopCheck = false;
    std::shared_ptr<DataSet> mOfficerLookup;
  };
  // document/WorkingData.cpp: the data sets bound to the three grids.
  struct WorkingData {
    std::shared_ptr<DataSet> mFormsAssignment;
    std::shared_ptr<DataSet> mNewForms;
    std::shared_ptr<DataSet> mOfficerList;
  };
  // newforms/: the entry check's messages and the form-type look-up.
  struct EntryState {
    std::string mErrorMessages;
    std::string mRangeMessage;
    std::shared_ptr<DataSet> mCodeLookup;
  };
  // document/ViewModes.cpp: what the view-mode switch keeps.
  struct ViewModeState {
    std::string mModeMarker;
    std::string mSavedTroopDistrict;
    std::string mSavedFormType;
  };

  HostState mHost;
  SearchState mSearch;
  WorkingData mData;
  EntryState mEntry;
  ViewModeState mViewMode;
  // The sources of events, named as their handlers are (mVexaMessage_DataReady): the shared
  // message component (document/Lifecycle.cpp) and the open Add Troopers dialog
  // (dutystation/).
  std::shared_ptr<MessageComponent> mVexaMessage;
  std::shared_ptr<frmAddOfficer> mEventAddOfficer;
};

}  // namespace fm

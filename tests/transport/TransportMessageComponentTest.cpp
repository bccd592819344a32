#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>

#include "TransportTestSupport.h"
#include "platform/CommonUtility.h"
#include "platform/DataSet.h"
#include "platform/PlatformError.h"
#include "platform/QueueEventLoop.h"
#include "platform/Recordset.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "protocol/Messages.h"
#include "transport/MessageTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::PumpUntil;
using testing::RecordingListener;

constexpr auto kTimeout = std::chrono::seconds(30);

// A transport whose answers the test writes. It can hold every exchange until the test
// lets it go, to play a slow server.
class ScriptedTransport final : public MessageTransport {
 public:
  using Answer = std::function<protocol::Reply(const protocol::Request&)>;

  protocol::Reply Exchange(const protocol::Request& request) override {
    std::unique_lock lock(mMutex);
    mReceived.push_back(request);
    mChanged.notify_all();
    mChanged.wait(lock, [this] { return !mHold || mCancelled; });
    if (mCancelled) throw PlatformError(PlatformError::kGeneric, "cancelled");
    Answer answer = mAnswer;
    lock.unlock();
    if (answer) return answer(request);
    return OkReply(request);
  }

  void Cancel() override {
    std::lock_guard lock(mMutex);
    mCancelled = true;
    mChanged.notify_all();
  }

  void SetAnswer(Answer answer) {
    std::lock_guard lock(mMutex);
    mAnswer = std::move(answer);
  }
  void Hold() {
    std::lock_guard lock(mMutex);
    mHold = true;
  }
  void Release() {
    std::lock_guard lock(mMutex);
    mHold = false;
    mChanged.notify_all();
  }
  // Waits (real time) until `count` requests have reached the transport.
  bool WaitForReceived(std::size_t count) {
    std::unique_lock lock(mMutex);
    return mChanged.wait_for(lock, std::chrono::seconds(20),
                             [&] { return mReceived.size() >= count; });
  }
  std::vector<protocol::Request> Received() {
    std::lock_guard lock(mMutex);
    return mReceived;
  }
  bool Cancelled() {
    std::lock_guard lock(mMutex);
    return mCancelled;
  }

  // A successful reply with one range and one officer.
  static protocol::Reply OkReply(const protocol::Request& request) {
    protocol::Reply reply;
    reply.requestId = request.requestId;
    reply.identity = request.identity;
    reply.ok = true;
    reply.dataSets["TROOPFORM"] = protocol::DataSet{
        {{"TRP_ID", protocol::ColumnType::Text}, {"FRM_FORM_NBR", protocol::ColumnType::Integer}},
        {{std::string("A"), std::int64_t{1000000001}}}};
    reply.dataSets["OFFICER"] =
        protocol::DataSet{{{"INSP_ID", protocol::ColumnType::Integer}}, {{std::int64_t{4711}}}};
    return reply;
  }

 private:
  std::mutex mMutex;
  std::condition_variable mChanged;
  std::vector<protocol::Request> mReceived;
  Answer mAnswer;
  bool mHold = false;
  bool mCancelled = false;
};

class TransportMessageComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Services::Reset();
    Services::SetEventLoop(mLoop);
    Services::SetReplyStore(mReplies);
    TransportMessageComponent::Options options;
    options.timeout = kTimeout;
    options.userId = 1234;
    mComponent = TransportMessageComponent::Create(mTransport, options);
  }
  void TearDown() override {
    mComponent.reset();
    Services::Reset();
  }

  std::string SendSearch(const std::string& identity) {
    auto request = mComponent->CreateRequest();
    request->SetIdentity(identity);
    request->SetVersion("1.0");
    request->SetRequesterValue("FORMSMAINT");
    request->SetMessageType(33);
    request->AddCriterion("key:TRP_ID", "A", "=", "FORMSMAINT");
    request->Send();
    return request->RequestId();
  }

  std::string Check(const std::string& identity, const std::string& requestId) const {
    return mUtility.ReplyCheck(identity, "Test", requestId);
  }

  std::shared_ptr<ManualClock> mClock = std::make_shared<ManualClock>();
  std::shared_ptr<QueueEventLoop> mLoop = std::make_shared<QueueEventLoop>(mClock);
  std::shared_ptr<ReplyStore> mReplies = std::make_shared<ReplyStore>();
  CommonUtility mUtility{nullptr, nullptr, mReplies};
  std::shared_ptr<ScriptedTransport> mTransport = std::make_shared<ScriptedTransport>();
  std::shared_ptr<TransportMessageComponent> mComponent;
};

TEST_F(TransportMessageComponentTest, SendCarriesTheRequestWithItsRowsAsTheyStoodWhenSent) {
  auto rows = std::make_shared<DataSet>();
  rows->SetSource("TROOPFORM");
  rows->Open();
  Recordset& rs = rows->GetRecordset();
  rs.AddNew();
  rs.SetValue("FORM_TYP_CD", "Y");
  rs.SetValue("FRM_FORM_NBR", "1000000000");
  rs.SetValue("ACTION", "ADD");
  rs.Update();

  mTransport->Hold();
  auto request = mComponent->CreateRequest();
  request->SetIdentity("SCR.TARVO_FormsMaint#1");
  request->SetVersion("1.0");
  request->SetRequesterValue("FORMSMAINT");
  request->SetMessageType(34);
  request->AttachDataSet(rows, "TROOPFORM");
  request->AddCriterion("key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT");
  request->AddCriterion("key:THIN", "YES", "", "FORMSMAINT");
  request->Send();
  // The document goes on working with its rows after sending.
  rs.MoveFirst();
  rs.SetValue("ACTION", "UPD");
  rs.AddNew();
  rs.Update();
  mTransport->Release();

  ASSERT_TRUE(mTransport->WaitForReceived(1));
  const protocol::Request sent = mTransport->Received().at(0);
  EXPECT_EQ(sent.requestId, request->RequestId());
  EXPECT_EQ(sent.identity, "SCR.TARVO_FormsMaint#1");
  EXPECT_EQ(sent.version, "1.0");
  EXPECT_EQ(sent.requester, "FORMSMAINT");
  EXPECT_EQ(sent.userId, 1234);
  EXPECT_EQ(sent.messageType, 34);
  const protocol::DataSet& troopForm = sent.dataSets.at("TROOPFORM");
  ASSERT_EQ(troopForm.rows.size(), 1u);
  const int action = troopForm.ColumnIndex("ACTION");
  EXPECT_EQ(troopForm.rows[0][static_cast<std::size_t>(action)],
            protocol::Cell(std::string("ADD")));
  EXPECT_EQ(troopForm.rows[0][static_cast<std::size_t>(troopForm.ColumnIndex("FRM_FORM_NBR"))],
            protocol::Cell(std::int64_t{1000000000}));
  ASSERT_EQ(sent.criteria.size(), 2u);
  EXPECT_EQ(sent.criteria[0], (protocol::Criterion{"key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT"}));
  EXPECT_EQ(sent.criteria[1].op, "=");  // no operator given: equality
}

TEST_F(TransportMessageComponentTest, EachReplyIsFiledUnderItsRequestAndReachesEveryDocument) {
  RecordingListener first;
  RecordingListener second;
  mComponent->AddListener(&first);
  mComponent->AddListener(&second);
  mTransport->SetAnswer([](const protocol::Request& request) {
    protocol::Reply reply = ScriptedTransport::OkReply(request);
    // Each document's reply carries its own rows.
    std::get<std::string>(reply.dataSets["TROOPFORM"].rows[0][0]) = request.identity;
    return reply;
  });
  std::map<std::string, std::string> sent;
  // By the time a document hears of the reply, the store must hold it.
  first.OnDataReadyDo([&](const std::string& target) {
    const std::string& requestId = sent[target];
    EXPECT_EQ(Check(target, requestId), "");
    auto forms = mReplies->Get("TROOPFORM", target, requestId);
    ASSERT_NE(forms, nullptr);
    EXPECT_EQ(forms->GetRecordset().GetText("TRP_ID"), target);
    EXPECT_EQ(forms->GetRecordset().GetValue("FRM_FORM_NBR"), Value(std::int64_t{1000000001}));
    ASSERT_NE(mReplies->Get("OFFICER", target, requestId), nullptr);
  });
  mTransport->Hold();  // both ids are known before either reply is handled
  sent["DOC1"] = SendSearch("DOC1");
  sent["DOC2"] = SendSearch("DOC2");
  mTransport->Release();
  ASSERT_TRUE(PumpUntil(*mLoop, [&] { return second.Events().size() == 2; }));

  EXPECT_THAT(first.Events(), ElementsAre("DataReady:DOC1", "DataReady:DOC2"));
  EXPECT_THAT(second.Events(), ElementsAre("DataReady:DOC1", "DataReady:DOC2"));
  EXPECT_EQ(mReplies->Get("TROOPFORM", "DOC1", sent["DOC2"]), nullptr);
  EXPECT_EQ(mReplies->Get("TROOPFORM", "DOC2", sent["DOC1"]), nullptr);
  EXPECT_EQ(mComponent->PendingCount(), 0u);
  EXPECT_EQ(mLoop->PendingTimerCount(), 0u);  // the time-outs were cancelled
  mComponent->RemoveListener(&first);
  mComponent->RemoveListener(&second);
}

// Refusals and failures become failed replies; a connection indicator hears whether the
// server answered (a refusal included) or the exchange failed, before the DataReady.
TEST_F(TransportMessageComponentTest,
       RefusalsAndFailuresBecomeFailedRepliesAndTellAnswersFromFailures) {
  RecordingListener listener(/*withOutcomes=*/true);
  mComponent->AddListener(&listener);
  mTransport->SetAnswer([](const protocol::Request& request) -> protocol::Reply {
    protocol::Reply reply = ScriptedTransport::OkReply(request);
    if (request.identity == "REFUSED") {
      return {request.requestId,
              request.identity,
              false,
              "Row 1: the range 100-200 of form type C overlaps 150-300",
              {}};
    }
    if (request.identity == "SILENT") return {request.requestId, request.identity, false, "", {}};
    if (request.identity == "OTHER") reply.requestId = "another-id";
    if (request.identity == "GARBLED") {
      reply.dataSets["OFFICER"].rows[0][0] = std::string("not a number");
    }
    if (request.identity == "DOWN") {
      throw PlatformError(PlatformError::kGeneric,
                          "The forms server at http://x:1 could not be reached.");
    }
    if (request.identity == "FORBIDDEN") throw AccountRefusal("Your account may not ...");
    return reply;
  });
  std::map<std::string, std::string> sent;
  for (const char* identity :
       {"OK", "REFUSED", "SILENT", "OTHER", "GARBLED", "DOWN", "FORBIDDEN"}) {
    sent[identity] = SendSearch(identity);
  }
  ASSERT_TRUE(PumpUntil(*mLoop, [&] { return listener.Events().size() == 14; }));

  EXPECT_EQ(Check("OK", sent["OK"]), "");
  EXPECT_EQ(Check("REFUSED", sent["REFUSED"]),
            "Row 1: the range 100-200 of form type C overlaps 150-300");
  EXPECT_THAT(Check("SILENT", sent["SILENT"]), HasSubstr("refused the request without saying why"));
  EXPECT_THAT(Check("OTHER", sent["OTHER"]), HasSubstr("answered another request (another-id)"));
  EXPECT_THAT(Check("GARBLED", sent["GARBLED"]),
              HasSubstr("reply could not be read (data set OFFICER)"));
  EXPECT_EQ(mReplies->Get("TROOPFORM", "GARBLED", sent["GARBLED"]), nullptr);  // nothing half-filed
  EXPECT_THAT(Check("DOWN", sent["DOWN"]), HasSubstr("could not be reached"));
  EXPECT_EQ(Check("FORBIDDEN", sent["FORBIDDEN"]), "Your account may not ...");
  EXPECT_THAT(listener.Events(),
              ElementsAre("Answered:OK", "DataReady:OK", "Answered:REFUSED", "DataReady:REFUSED",
                          "Answered:SILENT", "DataReady:SILENT", "Failed:OTHER", "DataReady:OTHER",
                          "Failed:GARBLED", "DataReady:GARBLED", "Failed:DOWN", "DataReady:DOWN",
                          "Answered:FORBIDDEN", "DataReady:FORBIDDEN"));
  EXPECT_THAT(listener.Reasons(),
              ElementsAre("", "", "", HasSubstr("another-id"), HasSubstr("OFFICER"),
                          "The forms server at http://x:1 could not be reached.", ""));
  mComponent->RemoveListener(&listener);
}

// A request that times out raises MsgTimeout, then a failed DataReady; one whose time ran
// out while it waited behind a slow one is never sent; a late reply is dropped.
TEST_F(TransportMessageComponentTest, TimedOutRequestsRaiseMsgTimeoutAndLateRepliesAreDropped) {
  RecordingListener listener(/*withOutcomes=*/true);
  mComponent->AddListener(&listener);
  mTransport->Hold();
  const std::string slow = SendSearch("SLOW");
  ASSERT_TRUE(mTransport->WaitForReceived(1));
  SendSearch("QUEUED");  // waits behind the slow one

  mClock->Advance(kTimeout - std::chrono::milliseconds(1));
  mLoop->ProcessPendingEvents();
  EXPECT_TRUE(listener.Events().empty());

  mClock->Advance(std::chrono::milliseconds(1));
  mLoop->ProcessPendingEvents();
  EXPECT_THAT(listener.Events(), ElementsAre("TimedOut:SLOW", "MsgTimeout", "DataReady:SLOW",
                                             "TimedOut:QUEUED", "MsgTimeout", "DataReady:QUEUED"));
  const std::string text = Check("SLOW", slow);
  EXPECT_THAT(text, HasSubstr("The forms server did not answer within 30 seconds."));
  EXPECT_EQ(text, TransportMessageComponent::TimeoutText(kTimeout));
  EXPECT_EQ(listener.Reasons().back(), text);

  // The server answers after all: the reply is dropped, the time-out stands. Requests are
  // carried in order, so once a later request is answered the late reply has been handled.
  mTransport->Release();
  const std::string later = SendSearch("LATER");
  ASSERT_TRUE(PumpUntil(*mLoop, [&] { return listener.Events().size() == 8; }));
  EXPECT_EQ(listener.Events().back(), "DataReady:LATER");
  EXPECT_EQ(Check("LATER", later), "");
  EXPECT_EQ(mReplies->Get("TROOPFORM", "SLOW", slow), nullptr);
  EXPECT_EQ(Check("SLOW", slow), text);
  const auto received = mTransport->Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0].identity, "SLOW");
  EXPECT_EQ(received[1].identity, "LATER");
  mComponent->RemoveListener(&listener);
}

TEST_F(TransportMessageComponentTest, ReleasingTheComponentMidRequestCancelsAndRaisesNothing) {
  RecordingListener listener;
  mComponent->AddListener(&listener);
  mTransport->Hold();
  SendSearch("DOC1");
  ASSERT_TRUE(mTransport->WaitForReceived(1));
  mComponent.reset();  // joins the worker, which the cancelled transport lets go
  EXPECT_TRUE(mTransport->Cancelled());
  mClock->Advance(kTimeout * 2);
  mLoop->ProcessPendingEvents();
  EXPECT_TRUE(listener.Events().empty());
}

TEST_F(TransportMessageComponentTest, ARequestThatCannotBeConvertedIsRefusedAtSend) {
  auto closed = std::make_shared<DataSet>();  // never opened
  auto request = mComponent->CreateRequest();
  request->SetIdentity("DOC1");
  request->AttachDataSet(closed, "TROOPFORM");
  try {
    request->Send();
    FAIL() << "a closed data set was sent";
  } catch (const PlatformError& error) {
    EXPECT_THAT(error.Description(), HasSubstr("'TROOPFORM' is not open"));
  }
  EXPECT_EQ(mComponent->PendingCount(), 0u);
  EXPECT_EQ(mLoop->PendingTimerCount(), 0u);
}

// --- Saves: the versions of the ranges they replace, and refusals -------------------------

// A server holding ranges of form type C, each with its version; a save is refused (with
// the search refreshed) when `refuseSaves` is set, or as over a limit an override lifts
// when `overLimit` is set and the save carries no override reason.
class VersionedServer {
 public:
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges{{100, 7}, {300, 2}};  // From, version
  bool refuseSaves = false;
  bool overLimit = false;

  protocol::Reply Answer(const protocol::Request& request) const {
    protocol::Reply reply;
    reply.requestId = request.requestId;
    reply.identity = request.identity;
    const bool overridden = std::any_of(
        request.criteria.begin(), request.criteria.end(),
        [](const auto& c) { return c.key == protocol::kOverrideReasonKey && !c.value.empty(); });
    const bool over = overLimit && request.messageType == 34 && !overridden;
    reply.ok = !(refuseSaves && request.messageType == 34) && !over;
    if (!reply.ok) reply.error = "Range 100-199 of ENF001 was changed by Ann Lee at ...";
    if (over) {
      reply.error = "Officer 1001 would hold 260 unused forms of ENF001 ...";
      reply.dataSets[protocol::kOverrideDataSet] =
          protocol::DataSet{{{"OVERRIDABLE", protocol::ColumnType::Text}}, {{std::string("Y")}}};
    }
    protocol::DataSet forms;
    forms.columns = {{"FORM_TYP_CD", protocol::ColumnType::Text},
                     {"FRM_FORM_NBR", protocol::ColumnType::Integer},
                     {"ROW_VERSION", protocol::ColumnType::Integer}};
    for (const auto& [from, version] : ranges) {
      forms.rows.push_back({std::string("C"), from, version});
    }
    reply.dataSets["TROOPFORM"] = forms;
    reply.dataSets["OFFICER"] = protocol::DataSet{{{"INSP_ID", protocol::ColumnType::Integer}}, {}};
    return reply;
  }
};

class TransportSaveTest : public TransportMessageComponentTest {
 protected:
  void SetUp() override {
    TransportMessageComponentTest::SetUp();
    mTransport->SetAnswer([this](const protocol::Request& r) {
      std::lock_guard lock(mServerMutex);
      return mServer.Answer(r);
    });
    mComponent->AddListener(&mListener);
    // What a document reads first when it hears of a reply.
    mListener.OnDataReadyDo(
        [this](const std::string& target) { mChecks.push_back(Check(target, mLatest)); });
  }
  void TearDown() override {
    mComponent->RemoveListener(&mListener);
    TransportMessageComponentTest::TearDown();
  }

  void Serve(const std::function<void(VersionedServer&)>& change) {
    std::lock_guard lock(mServerMutex);
    change(mServer);
  }

  // Sends and waits until the component has answered it (one DataReady at least).
  void Exchange(const std::function<std::string()>& send) {
    const std::size_t before = mListener.Events().size();
    mLatest = send();
    ASSERT_TRUE(PumpUntil(*mLoop, [&] { return mComponent->PendingCount() == 0; }));
    mLoop->ProcessPendingEvents();
    ASSERT_GT(mListener.Events().size(), before);
  }

  // A save as the screen builds it: a "TROOPFORM" data set of texts, ROW_VERSION unset.
  std::string SendSave(const std::string& identity,
                       const std::vector<std::pair<std::string, std::string>>& rows) {
    auto set = std::make_shared<DataSet>();
    set->SetSource("TROOPFORM");
    set->Open();
    Recordset& rs = set->GetRecordset();
    for (const auto& [action, from] : rows) {
      rs.AddNew();
      rs.SetValue("ACTION", action);
      rs.SetValue("FORM_TYP_CD", " c");
      rs.SetValue("FRM_FORM_NBR", from);
      rs.SetValue("TO_FORM_NBR", from);
      rs.Update();
    }
    auto request = mComponent->CreateRequest();
    request->SetIdentity(identity);
    request->SetMessageType(34);
    request->AttachDataSet(set, "TROOPFORM");
    request->Send();
    return request->RequestId();
  }

  std::vector<protocol::Cell> SentVersions(std::size_t index) {
    const protocol::DataSet rows = mTransport->Received().at(index).dataSets.at("TROOPFORM");
    std::vector<protocol::Cell> versions;
    for (const auto& row : rows.rows) {
      versions.push_back(row[static_cast<std::size_t>(rows.ColumnIndex("ROW_VERSION"))]);
    }
    return versions;
  }

  std::mutex mServerMutex;
  VersionedServer mServer;
  RecordingListener mListener;
  std::string mLatest;
  std::vector<std::string> mChecks;
};

TEST_F(TransportSaveTest, UpdRowsCarryTheVersionOfTheirRangeInTheDocumentsLatestReply) {
  Exchange([&] { return SendSearch("DOC1"); });
  Serve([](VersionedServer& s) { s.ranges = {{100, 8}, {300, 2}}; });
  Exchange([&] { return SendSearch("DOC2"); });  // another document saw a later version
  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}, {"ADD", "150"}, {"UPD", "300"}}); });
  EXPECT_THAT(SentVersions(2), ElementsAre(protocol::Cell{std::int64_t{7}}, protocol::Cell{},
                                           protocol::Cell{std::int64_t{2}}));
  Exchange([&] { return SendSave("DOC2", {{"UPD", "100"}}); });
  EXPECT_THAT(SentVersions(3), ElementsAre(protocol::Cell{std::int64_t{8}}));
}

TEST_F(TransportSaveTest, UpdOfARangeTheLatestReplyDoesNotHoldIsRefusedBeforeItIsSent) {
  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}}); });  // no search yet
  Exchange([&] { return SendSearch("DOC1"); });
  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}, {"UPD", "200"}}); });
  EXPECT_EQ(mTransport->Received().size(), 1u) << "only the search went out";
  EXPECT_THAT(mListener.Events(),
              ElementsAre("DataReady:DOC1", "DataReady:DOC1", "DataReady:DOC1"));
  const std::string refusal =
      "The range starting at {} of form type C is not in the result of your latest search, so it "
      "may have been changed by another user since. Search again and repeat the change.";
  EXPECT_EQ(mChecks[0], fmt::format(fmt::runtime(refusal), 100));
  EXPECT_EQ(mChecks[1], "");
  EXPECT_EQ(mChecks[2], fmt::format(fmt::runtime(refusal), 200));
}

// A document empties its new ranges on the first accepted reply after saving them; a refresh
// must not be taken for that reply while such a save waits for its answer.
TEST_F(TransportSaveTest, NoRefreshWhileASaveOfNewRangesAwaitsItsAnswerOrANewerRequestIsOut) {
  Exchange([&] { return SendSearch("DOC1"); });
  Serve([](VersionedServer& s) { s.refuseSaves = true; });
  Exchange([&] { return SendSave("DOC1", {{"ADD", "500"}}); });  // new ranges, refused
  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}}); });  // still unconfirmed
  EXPECT_THAT(mChecks, ElementsAre("", HasSubstr("Ann Lee"), HasSubstr("Ann Lee")));

  Serve([](VersionedServer& s) { s.refuseSaves = false; });
  Exchange([&] { return SendSearch("DOC1"); });  // accepted: the new ranges' wait is over
  Serve([](VersionedServer& s) { s.refuseSaves = true; });
  mChecks.clear();
  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}}); });
  EXPECT_THAT(mChecks, ElementsAre(HasSubstr("Ann Lee"), ""));

  // A search sent after the save and before its answer will refresh the grids itself.
  mChecks.clear();
  mTransport->Hold();
  const std::string save = SendSave("DOC1", {{"UPD", "100"}});
  mLatest = SendSearch("DOC1");
  mTransport->Release();
  ASSERT_TRUE(PumpUntil(*mLoop, [&] { return mComponent->PendingCount() == 0; }));
  EXPECT_THAT(Check("DOC1", save), HasSubstr("Ann Lee"));
  EXPECT_EQ(mChecks.size(), 2u) << "one DataReady for each request, no refresh";
}

// A save refused over a limit goes again, once, as it was sent (its request id, its rows) with
// the reason added, and its answer reaches the document as the answer to that save; a plain
// refusal, or one the document has sent past since, is not offered.
TEST_F(TransportSaveTest, ASaveRefusedAsOverridableIsSentAgainOnceWithTheReason) {
  Exchange([&] { return SendSearch("DOC1"); });
  EXPECT_FALSE(mComponent->ResendWithOverride("DOC1", "no save refused yet"));
  Serve([](VersionedServer& s) { s.refuseSaves = true; });
  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}}); });
  EXPECT_FALSE(mComponent->ResendWithOverride("DOC1", "refused, but not over a limit"));

  Serve([](VersionedServer& s) {
    s = VersionedServer{};
    s.overLimit = true;
  });
  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}, {"ADD", "150"}}); });
  const std::string refused = mLatest;
  // What the document reads first when it hears of the reply (the refreshed search follows).
  ASSERT_GE(mChecks.size(), 2u);
  EXPECT_THAT(mChecks[mChecks.size() - 2], HasSubstr("would hold 260"));
  EXPECT_FALSE(mComponent->ResendWithOverride("DOC2", "another document"));
  Exchange([&] {
    EXPECT_TRUE(mComponent->ResendWithOverride("doc1", "court detail, two books"));
    return refused;
  });
  const protocol::Request again = mTransport->Received().back();
  const protocol::Request first = mTransport->Received().at(mTransport->Received().size() - 2);
  EXPECT_EQ(again.requestId, refused);
  EXPECT_EQ(again.dataSets.at("TROOPFORM").rows, first.dataSets.at("TROOPFORM").rows);
  EXPECT_EQ(again.criteria.back().key, protocol::kOverrideReasonKey);
  EXPECT_EQ(again.criteria.back().value, "court detail, two books");
  EXPECT_EQ(mChecks.back(), "");
  EXPECT_EQ(Check("DOC1", refused), "");
  EXPECT_FALSE(mComponent->ResendWithOverride("DOC1", "twice")) << "the offer was taken";

  Exchange([&] { return SendSave("DOC1", {{"UPD", "100"}}); });
  Exchange([&] { return SendSearch("DOC1"); });
  EXPECT_FALSE(mComponent->ResendWithOverride("DOC1", "sent past")) << "a search came after it";
}

TEST(TransportMessageComponentOptionsTest, TimeOutAndUserComeFromTheSiteSettings) {
  SiteSettings settings;
  settings.SetTimeout(std::chrono::milliseconds(2500));
  settings.SetUserId(777);
  const auto options = TransportMessageComponent::Options::FromSettings(settings);
  EXPECT_EQ(options.timeout, std::chrono::milliseconds(2500));
  EXPECT_EQ(options.userId, 777);
  EXPECT_THAT(TransportMessageComponent::TimeoutText(options.timeout),
              HasSubstr("within 2.5 seconds."));
  EXPECT_THAT(TransportMessageComponent::TimeoutText(std::chrono::seconds(1)),
              HasSubstr("within 1 second."));
  EXPECT_THROW(TransportMessageComponent::Create(nullptr, options), PlatformError);
}

}  // namespace
}  // namespace fm

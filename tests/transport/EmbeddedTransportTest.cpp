#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "TransportTestSupport.h"
#include "platform/CommonUtility.h"
#include "platform/DataSet.h"
#include "platform/PlatformError.h"
#include "platform/QueueEventLoop.h"
#include "platform/Recordset.h"
#include "platform/ReplyStore.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "server/store/ReferenceData.h"
#include "server/store/Store.h"
#include "transport/EmbeddedTransport.h"
#include "transport/HttpTransport.h"
#include "transport/InstallMessageTransport.h"
#include "transport/TransportMessageComponent.h"

namespace fm {
namespace {

using ::testing::HasSubstr;
using testing::PumpUntil;
using testing::RecordingListener;
using testing::TempFolder;

constexpr const char* kIdentity = "SCR.TARVO_FormsMaint#1";

// New ranges as the New Forms view collects them.
std::shared_ptr<DataSet> NewRange(const std::string& formType, std::int64_t from, std::int64_t to) {
  auto rows = std::make_shared<DataSet>();
  rows->SetSource("TROOPFORM");
  rows->Open();
  Recordset& rs = rows->GetRecordset();
  rs.AddNew();
  rs.SetValue("TRP_ID", "A");
  rs.SetValue("TRP_DIST_ID", "1");
  rs.SetValue("FORM_TYP_CD", formType);
  rs.SetValue("FRM_FORM_NBR", std::to_string(from));
  rs.SetValue("TO_FORM_NBR", std::to_string(to));
  rs.SetValue("ASGND_REG_NBR", "0");
  rs.SetValue("TRP_ACTN_CD", "A");
  rs.SetValue("ACTION", "ADD");
  rs.Update();
  return rows;
}

// One inventory file for the whole suite: creating the demo inventory is the slow part.
class EmbeddedTransportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sFolder = std::make_unique<TempFolder>();
    EmbeddedTransport::Options options;
    options.inventoryFile = sFolder->Path() / "data" / "inventory.db";
    sTransport = std::make_shared<EmbeddedTransport>(options);
  }
  static void TearDownTestSuite() {
    sTransport.reset();
    sFolder.reset();
  }

  void SetUp() override {
    Services::Reset();
    Services::SetEventLoop(mLoop);
    Services::SetReplyStore(mReplies);
    mComponent = TransportMessageComponent::Create(sTransport, {std::chrono::seconds(60), 1001});
    mComponent->AddListener(&mListener);
  }
  void TearDown() override {
    mComponent->RemoveListener(&mListener);
    mComponent.reset();
    Services::Reset();
  }

  // Sends a search (type 33) or a save of `rows` with a requery (34) for Troop/District A1
  // and the form type, as the screen does, and waits for its DataReady; answers its id.
  std::string Send(std::int16_t type, const std::string& formType,
                   std::shared_ptr<DataSet> rows = nullptr) {
    auto request = mComponent->CreateRequest();
    request->SetIdentity(kIdentity);
    request->SetVersion("1.0");
    request->SetRequesterValue("FORMSMAINT");
    request->SetMessageType(type);
    if (rows) request->AttachDataSet(std::move(rows), "TROOPFORM");
    for (const auto& [key, value] : {std::pair<const char*, std::string>{"TRP_ID", "A"},
                                     {"TRP_DIST_ID", "1"},
                                     {"REF_TYP_CD", formType},
                                     {"INACTIVE", "N"}}) {
      request->AddCriterion(std::string("key:") + key, value, "=", "FORMSMAINT");
    }
    request->AddCriterion("key:TRP_ACTN_CD", "V", "<>", "FORMSMAINT");
    request->AddCriterion("key:THIN", "YES", "=", "FORMSMAINT");
    const std::size_t before = mListener.Events().size();
    request->Send();
    EXPECT_TRUE(PumpUntil(*mLoop, [&] { return mListener.Events().size() > before; }));
    return request->RequestId();
  }

  // The highest form number stored for a form type, and the type's upper bound.
  static std::pair<std::int64_t, std::int64_t> Room(const std::string& formType) {
    server::Store& store = sTransport->Open();
    server::RangeQuery query;
    query.formType.push_back({server::Comparison::Equal, formType});
    std::int64_t highest = 0;
    for (const auto& stored : store.FindRanges(query)) highest = std::max(highest, stored.range.to);
    return {highest, store.Reference().FindFormType(formType)->highest};
  }

  static inline std::unique_ptr<TempFolder> sFolder;
  static inline std::shared_ptr<EmbeddedTransport> sTransport;

  std::shared_ptr<QueueEventLoop> mLoop = std::make_shared<QueueEventLoop>();
  std::shared_ptr<ReplyStore> mReplies = std::make_shared<ReplyStore>();
  CommonUtility mUtility{nullptr, nullptr, mReplies};
  RecordingListener mListener;
  std::shared_ptr<TransportMessageComponent> mComponent;
};

TEST_F(EmbeddedTransportTest, AnInventoryThatExistsIsOpenedAsItIsWithoutTheDemoAgain) {
  const auto [highest, bound] = Room("C");
  ASSERT_EQ(mUtility.ReplyCheck(kIdentity, "Test",
                                Send(34, "C", NewRange("C", highest + 1, highest + 10))),
            "");
  const std::size_t count = sTransport->Open().RangeCount();

  EmbeddedTransport::Options options;
  options.inventoryFile = sTransport->InventoryFile();
  EmbeddedTransport again(options);
  EXPECT_EQ(again.Open().RangeCount(), count);
  EXPECT_FALSE(std::filesystem::exists(sFolder->Path() / "data" / "inventory.db.creating"));
}

TEST(EmbeddedTransportOpenTest, AnInventoryThatCannotBeCreatedIsAFailedReplySayingWhere) {
  TempFolder folder;
  std::ofstream(folder.Path() / "blocker") << "a file where a folder should be";
  EmbeddedTransport::Options options;
  options.inventoryFile = folder.Path() / "blocker" / "inventory.db";
  EmbeddedTransport transport(options);
  try {
    transport.Exchange(protocol::Request{"R1", kIdentity, "1.0", "FORMSMAINT", 1, 33, {}, {}});
    FAIL() << "an impossible inventory file was used";
  } catch (const PlatformError& error) {
    EXPECT_THAT(error.Description(), HasSubstr((folder.Path() / "blocker").string()));
  }
  EXPECT_THROW(EmbeddedTransport(EmbeddedTransport::Options{}), PlatformError);
}

TEST(InstallMessageTransportTest, ChoosesEmbeddedWithoutAServerAndRefusesABadServerSetting) {
  SiteSettings settings;
  settings.SetInventoryFile("/nonexistent/inventory.db");
  EXPECT_NE(dynamic_cast<EmbeddedTransport*>(MakeMessageTransport(settings, "M H").get()), nullptr);

  settings.SetServerAddress("gopher://forms");
  EXPECT_THROW(InstallMessageTransport(settings, "M H"), PlatformError);
  settings.SetServerAddress("https://127.0.0.1:1");
  settings.SetCaFile("/nonexistent/ca.pem");
  EXPECT_THROW(InstallMessageTransport(settings, "M H"), PlatformError);
  settings.SetCaFile("");
  settings.SetToken("two words");
  EXPECT_THROW(InstallMessageTransport(settings, "M H"), PlatformError);
  settings.SetToken("fm1_token");

  settings.SetServerAddress("http://127.0.0.1:1");
  EXPECT_NE(dynamic_cast<HttpTransport*>(MakeMessageTransport(settings, "M H").get()), nullptr);
  InstallMessageTransport(settings, "M H");
  auto component = MessageComponent::Obtain();
  EXPECT_NE(dynamic_cast<TransportMessageComponent*>(component.get()), nullptr);
  EXPECT_EQ(MessageComponent::Obtain(), component);  // one per process
  MessageComponent::SetFactory(nullptr);
}

TEST(InstallMessageTransportTest, EmbeddedChangesAreTheLocalUsersWhateverTheRequestClaims) {
  TempFolder folder;
  SiteSettings settings;
  settings.SetInventoryFile(folder.Path() / "inventory.db");
  settings.SetUserId(1001);
  auto transport = MakeMessageTransport(settings, "Margaret Hartley");
  protocol::DataSet rows;
  rows.columns = {{"ACTION", protocol::ColumnType::Text},
                  {"FORM_TYP_CD", protocol::ColumnType::Text},
                  {"FRM_FORM_NBR", protocol::ColumnType::Integer},
                  {"TO_FORM_NBR", protocol::ColumnType::Integer},
                  {"TRP_ID", protocol::ColumnType::Text},
                  {"TRP_ACTN_CD", protocol::ColumnType::Text}};
  rows.rows.push_back({std::string("ADD"), std::string("B"), std::int64_t{9999000001},
                       std::int64_t{9999000010}, std::string("D"), std::string("A")});
  const protocol::Reply reply = transport->Exchange(
      protocol::Request{"R1", kIdentity, "1.0", "FORMSMAINT", 4242, 34, {{"TROOPFORM", rows}}, {}});
  ASSERT_TRUE(reply.ok) << reply.error;
  transport.reset();
  const auto history = server::OpenStore("sqlite:" + (folder.Path() / "inventory.db").string())
                           ->FormHistory("B", 9999000005);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].userId, 1001);
  EXPECT_EQ(history[0].userName, "Margaret Hartley");
  EXPECT_EQ(history[0].claimedUserId, 4242);
}

}  // namespace
}  // namespace fm

// The deterministic services that screen tests drive, and the process-wide service
// registry that hands them to the screen.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "platform/CommonUtility.h"
#include "platform/ErrorReporter.h"
#include "platform/PlatformError.h"
#include "platform/QueueEventLoop.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/UiElement.h"
#include "platform/testing/RecordingHostFrame.h"
#include "platform/testing/ScriptedUiServices.h"

namespace fm {
namespace {

using testing::RecordingHostFrame;
using testing::ScriptedUiServices;

class TestForm final : public UiElement {
 public:
  explicit TestForm(std::string name) : mName(std::move(name)) {}
  std::string Name() const override { return mName; }

 private:
  std::string mName;
};

TEST(ScriptedUiServicesTest, ModalShowsRunQueuedHandlersInOrderThenTheDefault) {
  ScriptedUiServices ui;
  TestForm dialog("frmUnAssignForms");
  TestForm nested("frmAddOfficer");
  std::vector<std::string> shown;
  ui.QueueModal([&](UiElement& form) {
    shown.push_back("first:" + form.Name());
    // A dialog that opens another dialog: the inner show takes the next handler.
    ui.ShowModal(nested);
  });
  ui.QueueModal([&](UiElement& form) { shown.push_back("second:" + form.Name()); });
  ui.SetDefaultModal([&](UiElement& form) { shown.push_back("default:" + form.Name()); });

  ui.ShowModal(dialog);
  ui.ShowModal(dialog);
  EXPECT_EQ(shown, (std::vector<std::string>{"first:frmUnAssignForms", "second:frmAddOfficer",
                                             "default:frmUnAssignForms"}));
  EXPECT_EQ(ui.modalShows, 3);
}

class ServicesTest : public ::testing::Test {
 protected:
  void SetUp() override { Services::Reset(); }
  void TearDown() override { Services::Reset(); }

  std::shared_ptr<SiteSettings> SettingsInFolder() {
    auto settings = std::make_shared<SiteSettings>();
    settings->SetLocalDatabaseFile(mFolder / "local.db");
    settings->SetLogFile(mFolder / "formsmaint.log");
    return settings;
  }

  testing::TempFolder mTemp;
  const std::filesystem::path& mFolder = mTemp.Path();
};

TEST_F(ServicesTest, WithoutAnInstalledUserInterfaceUiIsAClearErrorAndFrameCallsAreIgnored) {
  try {
    Services::Ui();
    FAIL() << "expected a PlatformError";
  } catch (const PlatformError& e) {
    EXPECT_EQ(e.Description(), "No user interface is installed");
  }
  auto ui = std::make_shared<ScriptedUiServices>();
  Services::SetUiServices(ui);
  EXPECT_EQ(&Services::Ui(), ui.get());

  Services::Frame().SetStatusText("Ready");  // no host: nothing happens
  auto frame = std::make_shared<RecordingHostFrame>();
  Services::SetHostFrame(frame);
  Services::Frame().SetStatusText("Ready");
  EXPECT_EQ(frame->statusTexts, (std::vector<std::string>{"Ready"}));
}

TEST_F(ServicesTest, TheUtilityIsBuiltFromTheInstalledServicesAndRebuiltWhenTheyChange) {
  auto settings = SettingsInFolder();
  settings->SetSwitch("VoidManualForms", true);
  Services::SetSettings(settings);
  EXPECT_TRUE(Services::Utility().Switch("VoidManualForms"));
  EXPECT_TRUE(Services::Utility().TroopTest("A"));  // the demo database, created on first use
  EXPECT_TRUE(std::filesystem::exists(mFolder / "local.db"));

  auto other = SettingsInFolder();
  Services::SetSettings(other);
  EXPECT_FALSE(Services::Utility().Switch("VoidManualForms"));
}

TEST_F(ServicesTest, TheReporterWritesToTheSettingsLogOrFallsBackToStandardError) {
  Services::SetSettings(SettingsInFolder());
  Services::Errors().Report("first failure", Services::ExecutableName(), "Doc.Proc");
  EXPECT_EQ(Services::Errors().Reports().size(), 1u);
  EXPECT_GT(std::filesystem::file_size(mFolder / "formsmaint.log"), 0u);

  Services::Reset();
  auto settings = SettingsInFolder();
  std::filesystem::create_directories(mFolder / "log-is-a-folder");
  settings->SetLogFile(mFolder / "log-is-a-folder");
  Services::SetSettings(settings);
  const auto reports = Services::Errors().Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].description.find("log-is-a-folder"), std::string::npos);
  EXPECT_EQ(reports[0].source, "Services.Errors");
}

}  // namespace
}  // namespace fm

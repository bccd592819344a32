#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TempFolder.h"
#include "common/MessageTitle.h"
#include "document/TARVO_FormsMaint.h"
#include "platform/ErrorReporter.h"
#include "platform/LocalDatabase.h"
#include "platform/QueueEventLoop.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/testing/RecordingHostFrame.h"
#include "platform/testing/ScriptedMessageComponent.h"
#include "platform/testing/ScriptedUiServices.h"

namespace fm::testing {

// A headless host for the document: deterministic services (scripted message boxes and
// modal dialogs, a recording host frame, a manual event loop and clock, a scripted message
// component) over a demo local database created once per test program.
class DocumentFixture : public ::testing::Test {
 protected:
  // One demo database per test program, in a folder removed when the program ends.
  static std::filesystem::path DemoDatabaseFile() {
    static const TempFolder folder;
    static const std::filesystem::path file = [] {
      auto path = folder.Path() / "demo.db";
      LocalDatabase::CreateDemo(path);
      return path;
    }();
    return file;
  }

  void SetUp() override {
    Services::Reset();
    settings = std::make_shared<SiteSettings>();
    settings->SetRegion("NORTH");
    settings->SetRequesterValue("FORMSMAINT");
    settings->SetUserId(1001);
    Services::SetSettings(settings);
    errors = std::make_shared<ErrorReporter>(std::filesystem::path{}, false);
    Services::SetErrorReporter(errors);
    Services::SetDatabase(LocalDatabase::Open(DemoDatabaseFile()));
    clock = std::make_shared<ManualClock>();
    loop = std::make_shared<QueueEventLoop>(clock);
    Services::SetEventLoop(loop);
    ui = std::make_shared<ScriptedUiServices>();
    Services::SetUiServices(ui);
    frame = std::make_shared<RecordingHostFrame>();
    Services::SetHostFrame(frame);
    messages = std::make_shared<ScriptedMessageComponent>();
    MessageComponent::SetFactory([m = messages] { return m; });
  }

  void TearDown() override {
    document.reset();
    MessageComponent::SetFactory(nullptr);
    Services::Reset();
  }

  // Creates the document in its host window and shows it the first time.
  TARVO_FormsMaint& ShowDocument() {
    document = std::make_unique<TARVO_FormsMaint>();
    document->SetParentWindow("Forms Maintenance", "FORMSMAINT");
    document->UserDocument_Show();
    frame->Clear();
    return *document;
  }

  // Runs everything posted to the event loop so far (replies, time-outs).
  void Deliver() { loop->ProcessPendingEvents(); }

  // Exactly one message box was shown, with this text, this icon, an OK button and the
  // application's title.
  void ExpectOneMessage(const std::string& text, MsgBoxIcon icon = MsgBoxIcon::Exclamation) {
    ASSERT_EQ(ui->messages.size(), 1u) << "message boxes shown";
    EXPECT_EQ(ui->messages[0].text, text);
    EXPECT_EQ(ui->messages[0].icon, icon);
    EXPECT_EQ(ui->messages[0].buttons, MsgBoxButtons::Ok);
    EXPECT_EQ(ui->messages[0].title, "Forms Maintenance");
  }

  // The texts of the message boxes shown so far.
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& message : ui->messages) texts.push_back(message.text);
    return texts;
  }

  std::vector<std::string> ReportSources() const {
    std::vector<std::string> sources;
    for (const auto& report : errors->Reports()) sources.push_back(report.source);
    return sources;
  }

  // Runs `script` with the next form shown modally, which must be a `Form`.
  template <class Form>
  void WhenModal(std::function<void(Form&)> script) {
    ui->QueueModal([script = std::move(script)](UiElement& shown) {
      auto* form = dynamic_cast<Form*>(&shown);
      ASSERT_NE(form, nullptr) << "another form was shown: " << shown.Name();
      script(*form);
    });
  }

  std::shared_ptr<SiteSettings> settings;
  std::shared_ptr<ErrorReporter> errors;
  std::shared_ptr<ManualClock> clock;
  std::shared_ptr<QueueEventLoop> loop;
  std::shared_ptr<ScriptedUiServices> ui;
  std::shared_ptr<RecordingHostFrame> frame;
  std::shared_ptr<ScriptedMessageComponent> messages;
  std::unique_ptr<TARVO_FormsMaint> document;
};

}  // namespace fm::testing

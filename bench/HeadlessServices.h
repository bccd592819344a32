#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "platform/ErrorReporter.h"
#include "platform/LocalDatabase.h"
#include "platform/MessageComponent.h"
#include "platform/QueueEventLoop.h"
#include "platform/Services.h"
#include "platform/SiteSettings.h"
#include "platform/testing/RecordingHostFrame.h"
#include "platform/testing/ScriptedUiServices.h"

namespace fm::bench {

// The services a screen document needs, installed for a benchmark without a window: a fresh
// local database in a temporary folder, the NORTH region, an error reporter that writes no
// file, a scripted user interface and host frame, and the given event loop. Destroying it
// takes them down again and removes the folder.
class HeadlessServices {
 public:
  // `name`: the temporary folder's prefix, so that a left-over folder says whose it is.
  HeadlessServices(const std::string& name, std::shared_ptr<QueueEventLoop> loop) {
    std::string pattern = (std::filesystem::temp_directory_path() / (name + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
    Services::Reset();
    auto settings = std::make_shared<SiteSettings>();
    settings->SetRegion("NORTH");
    Services::SetSettings(settings);
    errors = std::make_shared<ErrorReporter>(std::filesystem::path{}, false);
    Services::SetErrorReporter(errors);
    Services::SetDatabase(LocalDatabase::Open(folder / "local.db"));
    Services::SetEventLoop(std::move(loop));
    ui = std::make_shared<testing::ScriptedUiServices>();
    Services::SetUiServices(ui);
    Services::SetHostFrame(std::make_shared<testing::RecordingHostFrame>());
  }
  ~HeadlessServices() {
    MessageComponent::SetFactory(nullptr);
    Services::Reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  HeadlessServices(const HeadlessServices&) = delete;
  HeadlessServices& operator=(const HeadlessServices&) = delete;

  // Whether anything went wrong that the screen reports: an error report or a message box.
  bool SawTrouble() const { return !errors->Reports().empty() || !ui->messages.empty(); }

  std::filesystem::path folder;
  std::shared_ptr<testing::ScriptedUiServices> ui;
  std::shared_ptr<ErrorReporter> errors;
};

}  // namespace fm::bench
